#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/PlatformCommands.h"
#include "cli/WholeNumber.h"
#include "irdload/BuildInfo.h"
#include "unit/JsonEvents.h"

namespace irdload::cli {

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"irdload-cli: loads a firmware upgrade into an IRD over a serial line.",
               "irdload-cli"};
  app.set_version_flag("--version", std::string("irdload-cli ") + build::kVersion);
  // Paths are paths: on Windows CLI11 would read "/port" or a Linux-style path as an option.
  // Set before the subcommands are made, which take it from here.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(PlatformCommands::ExitCodes());
  PlatformCommands platform;

  SendOptions send;
  CLI::App* sendCmd =
      app.add_subcommand("send", "Send FILE (.uuc), or FILE (.u01) and SECOND (.u02), to the IRD");
  sendCmd->add_option("--port,-p", send.port, PlatformCommands::PortHelp())->capture_default_str();
  platform.AddSendOptions(*sendCmd);
  int readPauses = 50;
  sendCmd
      ->add_option("--read-pauses", readPauses,
                   "How many 1 ms pauses a reply may take to start arriving, from 10 to "
                   "10000 (a shorter wait fails healthy receivers, a longer one waits hours "
                   "on a silent line)")
      ->capture_default_str()
      ->check(WholeNumber(10, 10000));
  sendCmd->add_option("--trace", send.tracePath, "Record every byte on the wire to this file");
  int connectTimeout = 0;
  sendCmd
      ->add_option("--connect-timeout", connectTimeout,
                   "Give up when the IRD has not asked for the header this many seconds after "
                   "the first connect request of a file (0: call until stopped)")
      ->capture_default_str()
      ->check(WholeNumber(0, kMaxConnectTimeout));
  sendCmd->add_flag("--json", send.json,
                    "JSON Lines on standard output (see docs/json-events.md); the person's text "
                    "goes to standard error");
  sendCmd->add_option(
      "--report", send.reportDir,
      "Write the unit's record (JSON) into this folder and a line in its units.csv");
  sendCmd->add_option("--unit-id", send.unitId, "The receiver's id, for its record");
  sendCmd->add_option("files", send.files, "FILE [SECOND]")->required()->expected(1, 2);

  platform.AddCommands(app);

  std::string inspectFile;
  CLI::App* inspectCmd =
      app.add_subcommand("inspect", "Show an upgrade file's header and whether it would load");
  inspectCmd->add_option("file", inspectFile, "Upgrade file")->required();

  CLI::App* portsCmd = app.add_subcommand("ports", "List the serial ports on this machine");

  SampleOptions sample;
  CLI::App* sampleCmd =
      app.add_subcommand("make-sample", "Write a sample upgrade file (for trying the tool)");
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
    const std::string unavailable = PlatformCommands::Unavailable(argc, argv);
    const std::string detail =
        (unavailable.empty() ? "" : unavailable + " ") + "Run with --help for usage.";
    Complain(err, e.what(), detail);
    if (json) unit::JsonEventWriter(out, {}).Refused(EXIT_REFUSED, e.what(), detail);
    return EXIT_REFUSED;
  }
  if (*sendCmd) {
    send.connectTimeout = std::chrono::seconds(connectTimeout);
    send.replyWait = std::chrono::milliseconds(readPauses);
    platform.PrepareSend(send);
    return RunSend(send, out, err);
  }
  if (*inspectCmd) return RunInspect(inspectFile, out, err);
  if (*portsCmd) return RunPorts({}, out);
  if (*sampleCmd) return RunMakeSample(sample, out, err);
  if (const std::optional<int> code = platform.Run(out, err)) return *code;
  return EXIT_REFUSED;
}

}  // namespace irdload::cli
