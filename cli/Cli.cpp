#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Doctor.h"
#include "irdload/BuildInfo.h"

namespace irdload::cli {

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"irdload-cli: loads a firmware upgrade into an IRD over a serial line.",
               "irdload-cli"};
  app.set_version_flag("--version", std::string("irdload-cli ") + build::kVersion);
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 success; 1 internal failure; 2 usage error or an upgrade file that cannot "
      "be sent; 3 the serial port cannot be opened; 4 the IRD reported failure (or the transfer "
      "had to be ended); 5 no response from the IRD; 6 --simulate found the image differs; "
      "130 stopped by Ctrl-C.");

  SendOptions send;
  CLI::App* sendCmd = app.add_subcommand("send", "Send FILE (.uuc), or FILE (.u01) and SECOND (.u02), to the IRD");
  sendCmd->add_option("--port,-p", send.port,
                      "Serial port: COM1..COM4 (/dev/ttyS0..3) or a device path such as /dev/ttyUSB0")
      ->capture_default_str();
  CLI::Option* simulate =
      sendCmd->add_flag("--simulate", send.simulate,
                        "Send to the built-in virtual IRD instead of a port, then check it "
                        "received the image byte for byte");
  sendCmd->add_option("--baud", send.simulateBaud,
                      "With --simulate: the virtual line's speed (0: as fast as possible)")
      ->capture_default_str()
      ->needs(simulate);
  sendCmd->add_option("--simulate-fault", send.simulateFaults,
                      "With --simulate: make the virtual IRD misbehave, as Kind[@at[:value]] "
                      "(NackHeader, NackPacket, DropReply, CorruptReply, ClearBit20, Garbage, "
                      "SilentFrom, FailTerminate, CorruptPacketByte, DelayReply, HangUpAt)")
      ->needs(simulate);
  int readPauses = 50;
  sendCmd->add_option("--read-pauses", readPauses,
                      "How many 1 ms pauses a reply may take to start arriving, from 10 to "
                      "10000 (a shorter wait fails healthy receivers, a longer one waits hours "
                      "on a silent line)")
      ->capture_default_str()
      ->check(CLI::Range(10, 10000));
  sendCmd->add_option("--trace", send.tracePath, "Record every byte on the wire to this file");
  int connectTimeout = 0;
  sendCmd->add_option("--connect-timeout", connectTimeout,
                      "Give up when the IRD has not asked for the header this many seconds after "
                      "the first connect request of a file (0: call until stopped)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  sendCmd->add_option("files", send.files, "FILE [SECOND]")->required()->expected(1, 2);

  std::string inspectFile;
  CLI::App* inspectCmd = app.add_subcommand("inspect", "Show an upgrade file's header and whether it would load");
  inspectCmd->add_option("file", inspectFile, "Upgrade file")->required();

  CLI::App* portsCmd = app.add_subcommand("ports", "List the serial ports on this machine");

  DoctorOptions doctor;
  CLI::App* doctorCmd = app.add_subcommand(
      "doctor",
      "Check this machine for what stops a download, each problem with the command that "
      "fixes it (exit 0 all pass, 1 warnings, 2 failures)");
  doctorCmd->add_option("port", doctor.port,
                        "COM1..COM4 or a device path; every port found when left out");
  doctorCmd->add_flag("--json", doctor.json, "Write one JSON object for scripts");
  doctorCmd->footer("Exit codes: 0 every check passed; 1 warnings; 2 failures. The optional udev "
                    "rule that the fixes install: " + InstalledUdevRuleTemplate());

  SampleOptions sample;
  CLI::App* sampleCmd = app.add_subcommand("make-sample", "Write a sample upgrade file (for trying the tool)");
  sampleCmd->add_option("--size", sample.size, "Payload bytes")->capture_default_str();
  sampleCmd->add_option("--type", sample.type, "single, first or second")->capture_default_str();
  sampleCmd->add_option("--seed", sample.seed, "Payload pattern seed")->capture_default_str();
  sampleCmd->add_option("path", sample.path, "Where to write it")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return EXIT_OK;
  } catch (const CLI::CallForVersion&) {
    out << "irdload-cli " << build::kVersion << "\n";
    return EXIT_OK;
  } catch (const CLI::ParseError& e) {
    Complain(err, e.what(), "Run with --help for usage.");
    return EXIT_REFUSED;
  }
  if (*sendCmd) {
    send.connectTimeout = std::chrono::seconds(connectTimeout);
    send.replyWait = std::chrono::milliseconds(readPauses);
    return RunSend(send, out, err);
  }
  if (*inspectCmd) return RunInspect(inspectFile, out, err);
  if (*portsCmd) return RunPorts({}, out);
  if (*sampleCmd) return RunMakeSample(sample, out, err);
  if (*doctorCmd) return RunDoctor(doctor, {{}, InstalledUdevRuleTemplate()}, out);
  return EXIT_REFUSED;
}

}  // namespace irdload::cli
