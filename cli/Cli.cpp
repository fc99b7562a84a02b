#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Doctor.h"
#include "irdload/BuildInfo.h"
#include "station/JsonEvents.h"

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
  sendCmd->add_flag("--json", send.json,
                    "JSON Lines on standard output (see docs/json-events.md); the person's text "
                    "goes to standard error");
  sendCmd->add_option("--report", send.reportDir,
                      "Write the unit's record (JSON) into this folder and a line in its units.csv");
  sendCmd->add_option("--unit-id", send.unitId, "The receiver's id, for its record");
  sendCmd->add_option("files", send.files, "FILE [SECOND]")->required()->expected(1, 2);

  StationCliOptions station;
  CLI::App* stationCmd = app.add_subcommand(
      "station", "Load FILE [SECOND] into unit after unit on several ports at once");
  stationCmd->add_option("--port,-p", station.ports,
                         "A port: a device path, a /dev/serial/by-path or by-id link, COMn, or "
                         "LABEL=PATH; once per port")
      ->required()
      ->allow_extra_args(false);
  std::uint32_t units = 0;
  CLI::Option* unitsOpt = stationCmd->add_option(
      "--units", units, "Units per port, loaded or failed (default: until Ctrl-C)");
  unitsOpt->check(CLI::PositiveNumber);
  stationCmd->add_option("--retries", station.retries,
                         "Whole-unit retries on the same IRD before the unit counts as failed")
      ->capture_default_str()
      ->check(CLI::Range(0, 100));
  stationCmd->add_option("--next-unit", station.nextUnit,
                         "What arms a port's next unit: prompt (Enter, or the unit id; the "
                         "default when standard input is a terminal), replug (the adapter "
                         "vanished and came back; the default otherwise) or quiet:SECONDS (the "
                         "IRD left connect requests unanswered that long)");
  stationCmd->add_flag("--ask-unit-id", station.askUnitId,
                       "Read each unit's id from standard input (one line per unit, as a "
                       "barcode scanner types it) before loading it");
  stationCmd->add_flag("--json", station.json,
                       "JSON Lines on standard output (see docs/json-events.md)");
  stationCmd->add_option("--report", station.reportDir,
                         "One JSON record per unit in this folder, and a line per unit in its "
                         "units.csv");
  stationCmd->add_option("--trace-dir", station.traceDir, "One wire trace per unit in this folder");
  int stationConnectTimeout = 0;
  stationCmd->add_option("--connect-timeout", stationConnectTimeout,
                         "Count a unit as failed when its IRD has not asked for the header this "
                         "many seconds after the first connect request (0: call until it answers)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  int stationReadPauses = 50;
  stationCmd->add_option("--read-pauses", stationReadPauses,
                         "As for send: how many 1 ms pauses a reply may take to start arriving")
      ->capture_default_str()
      ->check(CLI::Range(10, 10000));
  stationCmd->add_option("files", station.files, "FILE [SECOND]")->required()->expected(1, 2);

  VirtualIrdOptions farm;
  CLI::App* farmCmd = app.add_subcommand(
      "virtual-ird", "Run virtual IRDs on pseudo-terminals, for trying the station without receivers");
  farmCmd->add_option("--count", farm.count, "IRDs plugged in at the start")
      ->capture_default_str()
      ->check(CLI::Range(0, 999));
  farmCmd->add_option("--links", farm.linkDir,
                      "Folder for the links ird1, ird2, ... (standing for /dev/serial/by-path)");
  farmCmd->add_option("--baud", farm.baud, "Line speed (0: as fast as possible)")
      ->capture_default_str();
  farmCmd->add_option("--fault", farm.faults, "A fault for every IRD, as Kind[@at[:value]]")
      ->allow_extra_args(false);
  farmCmd->add_option("--seed", farm.seed, "Seed of the faults' details")->capture_default_str();
  farmCmd->add_flag("--timing", farm.timing, "Report each IRD's line time (for benchmarks)");

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

  // Under --json standard output carries JSON only, even for a mistake in the options.
  bool json = false;
  for (int i = 1; i < argc; ++i) json = json || std::string(argv[i]) == "--json";
  std::ostream& text = json ? err : out;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    text << app.help();
    return EXIT_OK;
  } catch (const CLI::CallForVersion&) {
    text << "irdload-cli " << build::kVersion << "\n";
    return EXIT_OK;
  } catch (const CLI::ParseError& e) {
    Complain(err, e.what(), "Run with --help for usage.");
    if (json) station::JsonEventWriter(out, {}).Refused(EXIT_REFUSED, e.what(), "Run with --help for usage.");
    return EXIT_REFUSED;
  }
  if (*sendCmd) {
    send.connectTimeout = std::chrono::seconds(connectTimeout);
    send.replyWait = std::chrono::milliseconds(readPauses);
    return RunSend(send, out, err);
  }
  if (*stationCmd) {
    if (*unitsOpt) station.units = units;
    station.connectTimeout = std::chrono::seconds(stationConnectTimeout);
    station.replyWait = std::chrono::milliseconds(stationReadPauses);
    return RunStation(station, out, err);
  }
  if (*farmCmd) return RunVirtualIrd(farm, out, err);
  if (*inspectCmd) return RunInspect(inspectFile, out, err);
  if (*portsCmd) return RunPorts({}, out);
  if (*sampleCmd) return RunMakeSample(sample, out, err);
  if (*doctorCmd) return RunDoctor(doctor, {{}, InstalledUdevRuleTemplate()}, out);
  return EXIT_REFUSED;
}

}  // namespace irdload::cli
