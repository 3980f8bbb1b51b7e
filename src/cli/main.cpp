// tessera-cli: reads backup archives from the command line.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"
#include "cli/open.h"

int main(int argc, char** argv) {
  CLI::App app{"Reads backup archives (.qpx, .qpi): shows their header and contents and tests their integrity.",
               "tessera-cli"};
  app.require_subcommand(1);

  std::string archive;
  bool json = false;

  CLI::App* info = app.add_subcommand("info", "Show the archive's header, sections and volumes");
  info->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();
  info->add_flag("--json", json, "Print JSON");

  CLI::App* list = app.add_subcommand("list", "List the archive's entries and folders");
  list->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();
  list->add_flag("--json", json, "Print JSON");

  CLI::App* test = app.add_subcommand("test", "Decode every entry and check its CRC-32");
  test->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitFailed;
  }

  try {
    if (info->parsed()) return cli::RunInfo(archive, json);
    if (list->parsed()) return cli::RunList(archive, json);
    if (test->parsed()) return cli::RunTest(archive);
  } catch (const std::exception& e) {
    cli::PrintError(archive, e.what());
    return cli::kExitFailed;
  }
  return cli::kExitFailed;
}
