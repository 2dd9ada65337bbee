// winsim show: what a machine holds, read straight from its files.
#include <iostream>
#include <sstream>

#include "commands.h"
#include "platform/sim/registry/hive.h"
#include "show_tables.h"

namespace winsim_tool {

namespace {

const char kPrint[] = "SYSTEM\\CurrentControlSet\\Control\\Print";
const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentaq";
const char kSetupLog[] = "c:\\zentaq\\res\\drivedir\\setup.log";

void Heading(std::ostream& out, const std::string& title) { out << "\n== " << title << "\n"; }

void PrintOrNone(std::ostream& out, const Table& table, const std::string& none) {
  if (table.empty()) out << "  (" << none << ")\n";
  else table.Print(out);
}

std::string AttributeNames(DWORD attributes) {
  static const struct { DWORD bit; const char* name; } kNames[] = {
      {0x1, "queued"},           {0x2, "direct"},         {0x4, "default"},      {0x8, "shared"},
      {0x10, "network"},         {0x20, "hidden"},        {0x40, "local"},       {0x80, "enable-devq"},
      {0x100, "keep-printed"},   {0x200, "complete-first"}, {0x400, "offline"},  {0x800, "bidi"},
      {0x1000, "raw-only"},      {0x2000, "published"}};
  std::vector<std::string> names;
  for (const auto& n : kNames)
    if (attributes & n.bit) names.push_back(n.name);
  return Hex(attributes) + (names.empty() ? "" : " (" + Join(names, ", ") + ")");
}

void ShowMachine(std::ostream& out, const std::string& dir) {
  const winsim::Settings& s = winsim::Machine::Get().settings();
  const winsim::OsInfo& os = winsim::InfoOf(s.os);
  Heading(out, "machine " + dir);
  Table table({"SETTING", "VALUE"});
  table.Add({"system", std::string(os.name) + " (system directory " + os.system_dir + ", drivers " + os.driver_dir +
                           ", environment " + os.environment + ")"});
  table.Add({"admin", s.admin ? "yes" : "no"});
  // The service's current state: a program may have stopped or started it
  // since boot, so machine.ini's setting is only where it began.
  DWORD stop_left = 0;
  winsim::ServiceState spooler = winsim::SpoolerState(&stop_left);
  table.Add({"spooler", spooler == winsim::ServiceState::kRunning   ? "running"
                        : spooler == winsim::ServiceState::kStopped ? "stopped"
                                                                    : "stopping (" + std::to_string(stop_left) +
                                                                          " ms left)"});
  table.Add({"module", s.module});
  table.Print(out);
}

void ShowSpooler(std::ostream& out, const winsim::Hive& hive) {
  const winsim::RegKey* monitors = hive.Find(std::string(kPrint) + "\\Monitors");

  Heading(out, "monitors");
  Table monitor_table({"NAME", "LIBRARY"});
  if (monitors)
    for (const auto& m : monitors->subkeys) monitor_table.Add({m->name, StringOf(m.get(), "Driver")});
  PrintOrNone(out, monitor_table, "none");

  Heading(out, "ports");
  Table port_table({"PORT", "MONITOR", "DESCRIPTION"});
  std::stringstream local(winsim::Machine::Get().settings().local_ports);
  for (std::string port; std::getline(local, port, ',');)
    if (!port.empty()) port_table.Add({port, "Local Port", ""});
  if (monitors)
    for (const auto& m : monitors->subkeys)
      if (const winsim::RegKey* ports = m->Child("Ports"))
        for (const auto& p : ports->subkeys) port_table.Add({p->name, m->name, StringOf(p.get(), "Description")});
  PrintOrNone(out, port_table, "none");

  Heading(out, "drivers");
  bool any_driver = false;
  auto show_driver = [&](const std::string& where, const winsim::RegKey& d) {
    any_driver = true;
    out << "  " << d.name << "  [" << where << "]\n";
    Table files({"", ""});
    files.Add({"  driver", StringOf(&d, "Driver")});
    files.Add({"  data", StringOf(&d, "Data File")});
    files.Add({"  config", StringOf(&d, "Configuration File")});
    files.Add({"  help", StringOf(&d, "Help File")});
    files.Add({"  dependent", Join(StringsOf(&d, "Dependent Files"), ", ")});
    files.Print(out, false);
  };
  if (const winsim::RegKey* envs = hive.Find(std::string(kPrint) + "\\Environments"))
    for (const auto& env : envs->subkeys)
      if (const winsim::RegKey* drivers = env->Child("Drivers"))
        for (const auto& d : drivers->subkeys) {
          if (winsim::EqualNoCase(d->name.substr(0, 8), "Version-")) {
            for (const auto& versioned : d->subkeys) show_driver(env->name + ", " + d->name, *versioned);
          } else {
            show_driver(env->name, *d);
          }
        }
  if (!any_driver) out << "  (none)\n";

  Heading(out, "printers");
  Table printer_table({"NAME", "PORT", "DRIVER", "PROCESSOR", "ATTRIBUTES"});
  if (const winsim::RegKey* printers = hive.Find(std::string(kPrint) + "\\Printers"))
    for (const auto& p : printers->subkeys) {
      DWORD attributes = 0;
      bool has = DwordOf(p.get(), "Attributes", &attributes);
      printer_table.Add({p->name, StringOf(p.get(), "Port"), StringOf(p.get(), "Printer Driver"),
                         StringOf(p.get(), "Print Processor"), has ? AttributeNames(attributes) : ""});
    }
  PrintOrNone(out, printer_table, "none");
}

void ShowProductRecords(std::ostream& out, const winsim::Hive& hive) {
  const winsim::RegKey* record = nullptr;
  if (const winsim::RegKey* monitors = hive.Find(std::string(kPrint) + "\\Monitors"))
    for (const auto& m : monitors->subkeys)
      if (const winsim::RegKey* ports = m->Child("Ports"))
        if (const winsim::RegKey* port = ports->Child("ZENTAQPORT")) record = port;
  Heading(out, "port record of ZENTAQPORT" + (record ? " (HKLM\\" + record->Path() + ")" : std::string()));
  if (record) PrintOrNone(out, ValueTable(*record, 200), "no values");
  else out << "  (none)\n";

  std::string printer = std::string(kPrint) + "\\Printers\\ZENTAQ";
  Heading(out, "configuration of the printer ZENTAQ");
  const winsim::RegKey* printer_key = hive.Find(printer);
  const winsim::RegKey* driver_data = hive.Find(printer + "\\PrinterDriverData");
  Table config({"NAME", "TYPE", "LENGTH", "DATA"});
  auto add = [&](const winsim::RegKey* key, const std::string& name) {
    const winsim::RegValue* value = key ? key->Value(name) : nullptr;
    if (value) config.Add({name, TypeName(value->type), std::to_string(value->data.size()), FormatData(*value)});
    else config.Add({name, "-", "-", "(absent)"});
  };
  add(driver_data, "TTFontSubTableSize");
  add(driver_data, "TTFontSubTable");
  add(driver_data, "PrinterData");
  add(printer_key, "Default DevMode");
  if (printer_key) config.Print(out);
  else out << "  (no printer ZENTAQ)\n";

  Heading(out, std::string("Add/Remove Programs entry (HKLM\\") + kUninstall + ")");
  if (const winsim::RegKey* entry = hive.Find(kUninstall)) PrintOrNone(out, ValueTable(*entry, 200), "no values");
  else out << "  (none)\n";
}

void ShowFiles(std::ostream& out) {
  Heading(out, "loaded monitor libraries");
  std::vector<std::string> held = winsim::HeldLibraries();
  if (held.empty()) out << "  (none)\n";
  for (const auto& library : held) out << "  " << library << "\n";

  Heading(out, std::string("setup log (") + kSetupLog + ")");
  std::string log;
  winsim::ResolvedPath path = winsim::Resolve(kSetupLog);
  if (!path.exists || !winsim::ReadWholeFile(path.host, &log)) out << "  (none)\n";
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << "  " << line << "\n";
  }

  Heading(out, "journal");
  std::string journal;
  winsim::ReadWholeFile(winsim::Machine::Get().HostPathOf("journal.log"), &journal);
  if (journal.empty()) out << "  (empty)\n";
  std::istringstream events(journal);
  for (std::string line; std::getline(events, line);) {
    size_t tab = line.find('\t');
    std::string event = line.substr(0, tab);
    std::string rest = tab == std::string::npos ? "" : line.substr(tab + 1);
    // Fields apart with " | "; an escaped backslash shown as one, escaped
    // tabs and line feeds left visible.
    std::string fields;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '\t') fields += " | ";
      else if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '\\') fields += rest[i++];
      else fields += rest[i];
    }
    rest = fields;
    out << "  " << event << std::string(event.size() < 15 ? 15 - event.size() : 1, ' ') << rest << "\n";
  }
}

}  // namespace

int Show(const std::string& dir) {
  OpenMachineDir(dir);
  const winsim::Hive& hive = winsim::ReadHive();
  std::ostringstream out;
  ShowMachine(out, dir);
  ShowSpooler(out, hive);
  ShowProductRecords(out, hive);
  ShowFiles(out);
  std::cout << out.str().substr(1) << std::flush;
  return 0;
}

}  // namespace winsim_tool
