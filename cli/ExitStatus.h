#pragma once
// The exit statuses of kestrava-cli. A failure the program reports as
// "Error Code N" (N from 2 to 26) exits with N itself.
namespace CliExit
{
constexpr int kOk = 0;             ///< done: the module holds the image, or the read is complete
constexpr int kDifferent = 1;      ///< verify: the module's flash differs from the image
constexpr int kUsage = 64;         ///< the command line is wrong
constexpr int kNoModule = 69;      ///< no module answered before the search timed out
constexpr int kFailed = 70;        ///< failed without an error code; the reason is printed
constexpr int kInterrupted = 130;  ///< stopped by Ctrl-C or SIGTERM; the ports were closed
} // namespace CliExit
