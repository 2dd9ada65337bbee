// Ports of the simulated spooler: EnumPortsA.
//
// The local monitor's ports are the machine's (machine.ini [spooler]
// local_ports); every other monitor offers the ports recorded under its key,
// Monitors\<name>\Ports\<port>, as the port monitors that keep their
// configuration in the registry do.
#include <functional>

#include "platform/sim/spooler/spooler.h"

namespace winsim {
namespace spool {

std::vector<std::string> SplitPortList(const std::string& ports) {
  std::vector<std::string> list;
  size_t start = 0;
  while (start <= ports.size()) {
    size_t comma = ports.find(',', start);
    if (comma == std::string::npos) comma = ports.size();
    std::string part = ports.substr(start, comma - start);
    size_t first = part.find_first_not_of(" \t");
    size_t last = part.find_last_not_of(" \t");
    if (first != std::string::npos) list.push_back(part.substr(first, last - first + 1));
    start = comma + 1;
  }
  return list;
}

std::vector<Port> AllPorts(const Hive& hive) {
  std::vector<Port> ports;
  auto add = [&ports](const Port& port) {
    for (const Port& known : ports)
      if (EqualNoCase(known.name, port.name)) return;  // the first monitor that offers a name keeps it
    ports.push_back(port);
  };
  for (const std::string& name : SplitPortList(Machine::Get().settings().local_ports))
    add({name, kLocalMonitor, kLocalMonitor});
  if (const RegKey* monitors = hive.Find(kMonitorsKey)) {
    for (const auto& monitor : monitors->subkeys) {
      // Only a registered monitor is loaded and offers its ports.
      if (EqualNoCase(monitor->name, kLocalMonitor) || !IsRegisteredMonitor(*monitor)) continue;
      const RegKey* port_keys = monitor->Child("Ports");
      if (!port_keys) continue;
      for (const auto& port : port_keys->subkeys) {
        std::string description = Text(*port, "Description");
        add({port->name, monitor->name, description.empty() ? monitor->name : description});
      }
    }
  }
  return ports;
}

std::string MonitorOfPort(const Hive& hive, const std::string& port) {
  for (const Port& known : AllPorts(hive))
    if (EqualNoCase(known.name, port)) return known.monitor;
  return "";
}

namespace {

DWORD EnumPorts(DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  if (level != 1 && level != 2) return ERROR_INVALID_LEVEL;
  std::vector<Port> ports = AllPorts(ReadHive());
  Packer packer(level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A), ports.size());
  for (const Port& port : ports) {
    packer.Count(port.name);
    if (level == 2) {
      packer.Count(port.monitor);
      packer.Count(port.description);
    }
  }
  return FillEnumBuffer(&packer, ports.size(), buffer, size, needed, returned, [&](Packer* out) {
    for (size_t i = 0; i < ports.size(); ++i) {
      if (level == 1) {
        PORT_INFO_1A record{out->Put(ports[i].name)};
        out->PutRecord(i, &record);
      } else {
        PORT_INFO_2A record{};
        record.pPortName = out->Put(ports[i].name);
        record.pMonitorName = out->Put(ports[i].monitor);
        record.pDescription = out->Put(ports[i].description);
        record.fPortType = PORT_TYPE_WRITE;
        record.Reserved = 0;
        out->PutRecord(i, &record);
      }
    }
  });
}

}  // namespace
}  // namespace spool
}  // namespace winsim

BOOL EnumPortsA(LPSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  using namespace winsim::spool;
  DWORD error = Enter("EnumPortsA", server);
  if (!error) error = EnumPorts(level, buffer, size, needed, returned);
  return Leave(error);
}
