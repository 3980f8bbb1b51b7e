// tessera-cli: reads backup archives from the command line.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"
#include "cli/open.h"

int main(int argc, char** argv) {
  CLI::App app{"Reads backup archives (.qpx, .qpi): shows their header and contents, tests their integrity and "
               "restores them.",
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

  cli::ExtractOptions extract;
  CLI::App* extractCommand =
      app.add_subcommand("extract", "Restore the archive, or chosen folders and files of it, below DEST");
  extractCommand->add_option("ARCHIVE", extract.archive, "Archive file (.qpx or .qpi)")->required();
  extractCommand->add_option("DEST", extract.destination, "Folder to restore into (made when missing)")->required();
  extractCommand->add_option("PATH", extract.paths,
                             "Stored folder or file to restore, such as 'C:\\Users\\me\\Docs' (any case); "
                             "without PATH every drive goes to DEST/<letter>");
  CLI::Option* overwrite =
      extractCommand->add_flag("--overwrite", extract.overwrite, "Overwrite existing files without asking");
  extractCommand->add_flag("--skip-existing", extract.skipExisting, "Leave existing files alone without asking")
      ->excludes(overwrite);
  extractCommand->add_flag("--yes", extract.yes,
                           "Answer every question but the existing-file one with 'continue for all'");
  extractCommand->add_option("--log", extract.logFile, "Save the restore log to FILE (code page 932, CR LF)")
      ->type_name("FILE");
  extractCommand->add_flag("--quiet", extract.quiet, "No progress and no summary on standard error");

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
    if (extractCommand->parsed()) return cli::RunExtract(extract);
  } catch (const std::exception& e) {
    cli::PrintError(extractCommand->parsed() ? extract.archive : archive, e.what());
    return cli::kExitFailed;
  }
  return cli::kExitFailed;
}
