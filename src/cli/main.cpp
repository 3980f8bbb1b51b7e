// tessera-cli: reads backup archives from the command line.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>

#include "cli/commands.h"
#include "cli/extract.h"
#include "cli/find.h"
#include "cli/generations.h"
#include "cli/open.h"

int main(int argc, char** argv) {
  CLI::App app{"Reads backup archives (.qpx, .qpi): shows their header and contents, tests their integrity and "
               "restores them, alone or as the generations of a backup set.",
               "tessera-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tessera-cli " TESSERA_VERSION), "Print the version and exit");
  app.footer("Exit status: 0 success, 1 damaged entries found or some entries not restored, 2 failure.\n"
             "See tessera-cli(1) for the commands' options and examples.\n");

  std::string archive;
  bool json = false;
  cli::SetOptions set;

  // What every command over a backup set offers.
  const char* kRebuildHelp =
      "Rebuild a damaged management file from ARCHIVE alone (one generation) without asking";
  // A generation out of range (0 included) is refused with the set's range
  // once the set is open, not by the parser, which cannot name it.
  auto generationOption = [&](CLI::App* command, long& generation, bool& rebuild) {
    CLI::Option* option =
        command->add_option("--generation", generation, "Show generation N of the backup set ARCHIVE belongs to (1 = first)")
            ->type_name("N");
    command->add_flag("--rebuild-damaged", rebuild, kRebuildHelp);
    return option;
  };

  CLI::App* info = app.add_subcommand("info", "Show the archive's header, sections and volumes");
  info->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();
  info->add_flag("--json", json, "Print JSON");

  CLI::App* list = app.add_subcommand("list", "List the archive's entries and folders");
  list->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();
  list->add_flag("--json", json, "Print JSON");
  CLI::Option* listGeneration = generationOption(list, set.generation, set.rebuildDamaged);

  CLI::App* test = app.add_subcommand("test", "Decode every entry and check its CRC-32");
  test->add_option("ARCHIVE", archive, "Archive file (.qpx or .qpi)")->required();
  CLI::Option* testGeneration = generationOption(test, set.generation, set.rebuildDamaged);

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
  extractCommand->add_flag("--quiet", extract.quiet, "No progress; no log and no summary when everything was restored");
  CLI::Option* extractGeneration = generationOption(extractCommand, extract.generation, extract.rebuildDamaged);

  CLI::App* generations =
      app.add_subcommand("generations", "List the generations of the backup set ARCHIVE belongs to");
  generations->add_option("ARCHIVE", archive, "The set's .qpx or any of its .qpi")->required();
  generations->add_flag("--json", json, "Print JSON");
  generations->add_flag("--rebuild-damaged", set.rebuildDamaged, kRebuildHelp);

  std::string storedPath;
  CLI::App* history = app.add_subcommand("history", "Show every generation's state of one stored file or folder");
  history->add_option("ARCHIVE", archive, "The set's .qpx or any of its .qpi")->required();
  history->add_option("PATH", storedPath, "Stored file or folder, such as 'C:\\Users\\me\\a.txt' (any case)")
      ->required();
  history->add_flag("--json", json, "Print JSON");
  history->add_flag("--rebuild-damaged", set.rebuildDamaged, kRebuildHelp);

  long from = 0, to = 0;
  CLI::App* diff = app.add_subcommand("diff", "Show what changed between generations N and M");
  diff->add_option("ARCHIVE", archive, "The set's .qpx or any of its .qpi")->required();
  diff->add_option("N", from, "Generation (1 = first)")->required();
  diff->add_option("M", to, "Generation (1 = first)")->required();
  diff->add_flag("--json", json, "Print JSON");
  diff->add_flag("--rebuild-damaged", set.rebuildDamaged, kRebuildHelp);

  cli::FindOptions find;
  CLI::App* findCommand =
      app.add_subcommand("find", "Find files and folders by name in every generation of the backup set");
  findCommand->add_option("ARCHIVE", find.archive, "The set's .qpx or any of its .qpi")->required();
  findCommand->add_option("PATTERN", find.pattern,
                          "Name with * and ? (any case); with a backslash, the whole stored path")
      ->required();
  findCommand->add_flag("--json", find.json, "Print JSON");
  findCommand->add_option("--min-size", find.minSize, "Only files of at least SIZE bytes (K, M, G: 1024-based)")
      ->type_name("SIZE");
  findCommand->add_option("--max-size", find.maxSize, "Only files of at most SIZE bytes")->type_name("SIZE");
  findCommand->add_option("--newer", find.newer, "Only files modified at or after DATE (YYYY-MM-DD[ HH:MM[:SS]])")
      ->type_name("DATE");
  findCommand->add_option("--older", find.older, "Only files modified before DATE")->type_name("DATE");
  findCommand->add_flag("--rebuild-damaged", find.rebuildDamaged, kRebuildHelp);

  // Before anything is opened: see ReserveStandardDescriptors.
  cli::ReserveStandardDescriptors();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitFailed;
  }

  set.generationGiven = listGeneration->count() > 0 || testGeneration->count() > 0;
  extract.generationGiven = extractGeneration->count() > 0;

  try {
    if (info->parsed()) return cli::RunInfo(archive, json);
    if (list->parsed()) return cli::RunList(archive, json, set);
    if (test->parsed()) return cli::RunTest(archive, set);
    if (extractCommand->parsed()) return cli::RunExtract(extract);
    if (generations->parsed()) return cli::RunGenerations(archive, json, set);
    if (history->parsed()) return cli::RunHistory(archive, storedPath, json, set);
    if (diff->parsed()) return cli::RunDiff(archive, from, to, json, set);
    if (findCommand->parsed()) return cli::RunFind(find);
  } catch (const std::exception& e) {
    // Every command ends here when memory runs out: the engine lets it pass.
    const bool outOfMemory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    cli::PrintError(extractCommand->parsed() ? extract.archive : findCommand->parsed() ? find.archive : archive,
                    outOfMemory ? "out of memory" : e.what());
    return cli::kExitFailed;
  }
  return cli::kExitFailed;
}
