#include "dl2mgr/link/SystemPorts.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <sys/stat.h>

namespace dl2mgr::link {

namespace {

std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

} // namespace

std::vector<SystemPort> SystemPorts(const std::filesystem::path& byIdFolder) {
    std::vector<SystemPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SystemPort port;
        port.Device = Local(info.systemLocation());
        port.Description = Local(info.description());
        port.Manufacturer = Local(info.manufacturer());
        port.SerialNumber = Local(info.serialNumber());
        ports.push_back(std::move(port));
    }
    std::error_code ec;
    std::vector<std::filesystem::path> links;
    for (const auto& entry : std::filesystem::directory_iterator(byIdFolder, ec))
        links.push_back(entry.path());
    // Sorted, so the same adapters give the same menu whatever order the folder lists.
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        const auto device = std::filesystem::canonical(link, ec);
        if (ec) continue; // a link left by an adapter that is gone
        struct stat info {};
        if (::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
        auto known = std::find_if(ports.begin(), ports.end(),
                                  [&](const SystemPort& p) { return p.Device == device.string(); });
        if (known == ports.end()) {
            ports.push_back({device.string(), {}, {}, {}, {}});
            known = ports.end() - 1;
        }
        if (known->ById.empty()) known->ById = link.string();
    }
    std::sort(ports.begin(), ports.end(),
              [](const SystemPort& a, const SystemPort& b) { return a.Device < b.Device; });
    return ports;
}

std::string PortLabel(const SystemPort& port) {
    std::string label = port.Device;
    std::string about = port.Description;
    auto add = [&about](const std::string& part) {
        if (part.empty()) return;
        if (!about.empty()) about += ", ";
        about += part;
    };
    add(port.Manufacturer);
    if (!port.SerialNumber.empty()) add("serial " + port.SerialNumber);
    if (about.empty() && !port.ById.empty())
        about = std::filesystem::path(port.ById).filename().string();
    if (!about.empty()) label += " - " + about;
    return label;
}

} // namespace dl2mgr::link
