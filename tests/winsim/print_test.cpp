// winsim print against port records written directly into the hive: how the
// record becomes a Ghostscript command, and every way it can be unusable.
#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/registry/hive.h"
#include "platform/sim/machine.h"
#include "winsim_cli.h"

namespace {

const char kPrint[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\";
const char kRecord[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZENTAQ Monitor\\Ports\\ZENTAQPORT";

void SetString(winsim::RegKey* key, const std::string& name, const std::string& text) {
  key->SetValue(name, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

// A machine with the printer ZENTAQ on ZENTAQPORT and the record the
// installer writes, without running the installer.
class WinsimPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.Write("c:\\zentaq\\res\\pdfwrite.rsp", "-dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite\n");
    machine_.Write("c:\\zentaq\\res\\convert\\gswin32c.exe", "placeholder\n");
    Change([](winsim::Hive& hive) {
      SetString(hive.Create(std::string(kPrint) + "Printers\\ZENTAQ"), "Port", "ZENTAQPORT");
      winsim::RegKey* record = hive.Create(kRecord);
      SetString(record, "Arguments", "@c:\\zentaq\\res\\pdfwrite.rsp -sOutputFile=\"%1\" -c save pop -f -");
      SetString(record, "Command", "c:\\zentaq\\res\\convert\\gswin32c.exe");
    });
  }

  void Change(const std::function<void(winsim::Hive&)>& change) {
    machine_.Use();
    winsim::ChangeHive([&](winsim::Hive& hive) {
      change(hive);
      return true;
    });
  }

  RunResult Print(const std::string& job, const std::string& output, const std::vector<std::string>& env = {}) {
    return Winsim({"print", machine_.root(), job, output}, env);
  }

  TestMachine machine_{"xp"};
  Scratch out_;
};

TEST_F(WinsimPrint, RecordBecomesTheGhostscriptCommandLineOnTheMachine) {
  // A stand-in Ghostscript that shows what it was given.
  std::string gs = out_ / "gs", log = out_ / "gs.log";
  Spit(gs,
       "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log + "'\ncat > '" + log +
           ".stdin'\nfor a; do case \"$a\" in -sOutputFile=*) o=\"${a#-sOutputFile=}\";; esac; done\n"
           "printf '%%PDF-1.4 stand-in\\n' > \"$o\"\n");
  ASSERT_EQ(system(("chmod +x '" + gs + "'").c_str()), 0);
  Change([](winsim::Hive& hive) {
    SetString(hive.Find(kRecord), "Arguments", "@C:\\ZENTAQ\\RES\\PDFWRITE.RSP -sOutputFile=\"%1\" -c save pop -f -");
  });

  RunResult print = Print(SAMPLE_PS, out_ / "job.pdf", {"WINSIM_GS=" + gs});
  ASSERT_EQ(print.status, 0) << print.err;
  std::vector<std::string> args = SplitLines(Slurp(log));
  ASSERT_EQ(args.size(), 7u) << Slurp(log);
  EXPECT_EQ(args[0], "@" + machine_.root() + "/drive_c/zentaq/res/pdfwrite.rsp");
  EXPECT_EQ(args[1].rfind("-sOutputFile=" + out_.path() + "/.job.pdf.", 0), 0u) << args[1];
  EXPECT_EQ(std::vector<std::string>(args.begin() + 2, args.end()),
            (std::vector<std::string>{"-c", "save", "pop", "-f", "-"}));
  EXPECT_EQ(Slurp(log + ".stdin"), Slurp(SAMPLE_PS));
  EXPECT_EQ(Slurp(out_ / "job.pdf"), "%PDF-1.4 stand-in\n");
  EXPECT_EQ(Listing(out_.path()), (std::vector<std::string>{"gs", "gs.log", "gs.log.stdin", "job.pdf"}));
}

TEST_F(WinsimPrint, RejectedJobLeavesThePreviousFileAndNoPartialOne) {
  std::string job = out_ / "bad.ps";
  Spit(job, "%!PS\n/Helvetica findfont 12 scalefont setfont 72 72 moveto (half) show showpage\nnosuchop\n");
  Spit(out_ / "out.pdf", "the previous PDF");
  RunResult print = Print(job, out_ / "out.pdf");
  EXPECT_TRUE(IsOneLineError(print)) << print.err;
  EXPECT_NE(print.err.find("Error: /undefined in nosuchop"), std::string::npos) << print.err;
  EXPECT_EQ(Slurp(out_ / "out.pdf"), "the previous PDF");
  EXPECT_EQ(Listing(out_.path()), (std::vector<std::string>{"bad.ps", "out.pdf"}));

  RunResult missing_gs = Print(SAMPLE_PS, out_ / "out.pdf", {"WINSIM_GS=/nonexistent/gs"});
  EXPECT_TRUE(IsOneLineError(missing_gs)) << missing_gs.err;
  EXPECT_EQ(Slurp(out_ / "out.pdf"), "the previous PDF");
}

TEST_F(WinsimPrint, UnusablePrinterPortOrRecordIsNamed) {
  struct Case {
    const char* expected;
    std::function<void(winsim::Hive&)> change;
  };
  const std::string printer = std::string(kPrint) + "Printers\\ZENTAQ";
  const std::vector<Case> cases = {
      {"no printer ZENTAQ", [&](winsim::Hive& h) { h.Remove(printer); }},
      {"has no port", [&](winsim::Hive& h) { SetString(h.Find(printer), "Port", ""); }},
      {"FILE: of the printer ZENTAQ has no port record", [&](winsim::Hive& h) { SetString(h.Find(printer), "Port", "FILE:"); }},
      {"has no port record", [&](winsim::Hive& h) { h.Remove(kRecord); }},
      {"has no Command", [](winsim::Hive& h) { SetString(h.Find(kRecord), "Command", ""); }},
      {"has no Arguments",
       [](winsim::Hive& h) {
         auto& values = h.Find(kRecord)->values;
         values.erase(values.begin());  // Arguments
       }},
      {"not the Ghostscript console program",
       [](winsim::Hive& h) { SetString(h.Find(kRecord), "Command", "c:\\zentaq\\res\\convert\\other.exe"); }},
      {"name no output file", [](winsim::Hive& h) { SetString(h.Find(kRecord), "Arguments", "-sOutputFile=x.pdf -"); }},
      {"response file c:\\zentaq\\res\\missing.rsp",
       [](winsim::Hive& h) { SetString(h.Find(kRecord), "Arguments", "@c:\\zentaq\\res\\missing.rsp -sOutputFile=\"%1\" -"); }},
  };
  std::string pristine = machine_.HiveText();
  for (const auto& c : cases) {
    Spit(machine_.root() + "/system.reg", pristine);
    Change(c.change);
    std::string hive = machine_.HiveText();
    RunResult print = Print(SAMPLE_PS, out_ / "out.pdf");
    EXPECT_TRUE(IsOneLineError(print)) << c.expected << ": " << print.err;
    EXPECT_NE(print.err.find(c.expected), std::string::npos) << print.err;
    EXPECT_EQ(machine_.HiveText(), hive);
  }
  Spit(machine_.root() + "/system.reg", pristine);
  auto expect_error = [&](const std::string& job, const std::string& output, const std::string& expected) {
    RunResult print = Print(job, output);
    EXPECT_TRUE(IsOneLineError(print)) << expected << ": " << print.err;
    EXPECT_NE(print.err.find(expected), std::string::npos) << print.err;
  };
  expect_error(out_ / "none.ps", out_ / "out.pdf", "no such PostScript file");
  expect_error(SAMPLE_PS, out_ / "no/out.pdf", "does not exist");
  machine_.Remove("c:\\zentaq\\res\\convert\\gswin32c.exe");
  expect_error(SAMPLE_PS, out_ / "out.pdf", "gswin32c.exe is missing on the machine");
  EXPECT_EQ(Listing(out_.path()), std::vector<std::string>{});
}

}  // namespace
