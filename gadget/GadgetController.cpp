#include "gadget/GadgetController.h"
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

GadgetController::GadgetController (std::string gadgetDir, std::string udc)
    : m_GadgetDir (std::move (gadgetDir)), m_Udc (std::move (udc))
{
    if (m_Udc.empty())
    {
        std::ifstream in (m_GadgetDir + "/UDC");
        std::getline (in, m_Udc);
    }
}

bool GadgetController::WriteUdc (const std::string& text)
{
    std::ofstream out (m_GadgetDir + "/UDC");
    out << text << '\n';
    out.flush();
    return out.good();
}

bool GadgetController::Plug()   { return ! m_Udc.empty() && WriteUdc (m_Udc); }
bool GadgetController::Unplug() { return WriteUdc (""); }

std::string GadgetController::DevicePort() const
{
    // The function's sound card hangs below the controller's gadget device.
    std::error_code error;
    for (const auto& entry : fs::directory_iterator ("/sys/class/sound", error))
    {
        const auto name = entry.path().filename().string();
        if (name.rfind ("card", 0) != 0)
            continue;
        const auto device = fs::canonical (entry.path() / "device", error);
        if (error || device.string().find ("/" + m_Udc + "/") == std::string::npos)
            continue;
        return "hw:" + name.substr (4) + ",0,0";
    }
    return {};
}

std::string GadgetController::WaitForDevicePort (int boundMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (boundMs);
    for (;;)
    {
        auto port = DevicePort();
        if (! port.empty() || std::chrono::steady_clock::now() >= end)
            return port;
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
}
