// The command line of every tool: one option table per program or command
// (CLI11), with --help and the man page generated from it, --version, the
// WHEN parser, the source resolver (a path or --drive N), and usage errors
// printed the same way everywhere (the usage line, then what is wrong).
//
// Adding a command to orvan-cli:
//   1. Put its options in a struct, and its work in a function that reads
//      them and returns an ExitCode (tools/exit_codes.h).
//   2. Beside that function, register both:
//        void AddFooCommand(CommandLine &cli) {
//          auto o = std::make_shared<FooOptions>();
//          Command &cmd = cli.AddCommand("foo", "one line of what it does",
//                                        [o] { return RunFoo(*o); });
//          cmd.Source(o->source, "DISK", "a disk image or block device");
//          cmd.When("--from", o->from, "where to start");
//          cmd.Flag("--json", o->json, "print JSON");
//        }
//      Options are read before the function runs; a value the option table
//      refuses never reaches it.
//   3. Declare AddFooCommand in tools/cli_commands.h and call it in main()
//      of tools/orvan_cli.cpp, in the order --help lists the commands.
// Print JSON through tools/json_writer.h. A program without commands
// registers its options on CommandLine::Main() and its work with SetRun().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"

namespace CLI {
class App;
class Formatter;
}  // namespace CLI

namespace orvan::tools {

// A command line that cannot be carried out, with the text the user sees.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// WHEN: "YYYY-MM-DD hh:mm:ss" (recorder wall time; also with 'T' or '_'
// between, or '/' in the date) or a count of recorder seconds, within the
// recorder's 32-bit range. The error names the text and both forms.
bool ParseWhen(const std::string &text, uint32_t &seconds, std::string &error);

// What a command reads, as given: a path, or drive N of the drive table
// (the --image entries first, then the machine's disks).
struct SourceArg {
  std::string path;
  int drive = -1;  // -1: the path
  std::vector<std::string> images;
};

// A source made ready to open: its path, and a table in which it is drive
// `driveNumber` (for readers that open drives by number).
struct ResolvedSource {
  std::string path;
  int driveNumber = 0;
  DriveTable table;
};

// `what` names the source in the error when neither a path nor a drive
// was given ("no DISK given"); a drive not in the table is "No such drive: N".
bool ResolveSource(const SourceArg &source, const std::string &what, ResolvedSource &resolved,
                   std::string &error);

// The switches of every orvan-cli command.
struct CommonSwitches {
  bool json = false;
  bool overwrite = false;  // an output may replace an existing file
  bool strict = false;     // a partial result exits kExitPartial

  platform::ReplacePolicy Policy() const {
    return overwrite ? platform::ReplacePolicy::kReplaceExisting
                     : platform::ReplacePolicy::kKeepExisting;
  }
};

// The options of one command (or of a program without commands). Every
// method registers one entry of the table and returns the command, so
// registrations chain. `names` are CLI11 names: "-o,--output", "--json".
class Command {
 public:
  explicit Command(CLI::App &app);

  // A switch.
  Command &Flag(const std::string &names, bool &target, const std::string &description);
  // A value taken as it is. `missing` is the error when the value is left
  // out; by default "--name needs a value".
  Command &Text(const std::string &names, std::string &target, const std::string &valueName,
                const std::string &description, const std::string &missing = "");
  // A value `parse` turns into whatever it sets; false (with `error` set)
  // refuses the command line.
  using Parser = std::function<bool(const std::string &text, std::string &error)>;
  Command &Value(const std::string &names, const std::string &valueName,
                 const std::string &description, Parser parse, const std::string &missing = "");
  // A whole number in [lo, hi]; `bad` is the error for anything else.
  template <typename T>
  Command &Number(const std::string &names, T &target, const std::string &valueName,
                  const std::string &description, const std::string &bad, T lo, T hi,
                  const std::string &missing = "");
  // The same, repeatable: each value given is added to `target`, in order.
  template <typename T>
  Command &Numbers(const std::string &names, std::vector<T> &target, const std::string &valueName,
                   const std::string &description, const std::string &bad, T lo, T hi,
                   const std::string &missing = "");
  // A WHEN; `bad` replaces ParseWhen's error when given.
  Command &When(const std::string &names, std::optional<uint32_t> &target,
                const std::string &description, const std::string &bad = "",
                const std::string &missing = "");
  // A value that may be given more than once: `parse` sees each, in order.
  Command &Values(const std::string &names, const std::string &valueName,
                  const std::string &description, Parser parse, const std::string &missing = "");
  // --image PATH, repeatable: images listed before the machine's drives.
  // Hidden from --help where a program accepts it but has no drives.
  Command &Images(std::vector<std::string> &images, bool hidden = false);
  // The next word that is not an option.
  Command &Positional(const std::string &name, std::string &target, const std::string &description);
  // The source as the next word, or --drive N (with --image). With
  // --drive the words move up one place: `search --drive 0 WHEN`.
  Command &Source(SourceArg &source, const std::string &name, const std::string &description);
  // --json, --overwrite and --strict.
  Command &Common(CommonSwitches &switches);
  // Text under the option list of --help.
  Command &Footer(const std::string &text);
  // The error for a word left over after the positionals, instead of
  // "unexpected argument: WORD".
  Command &TooMany(const std::string &text);

  CLI::App &App() { return m_app; }

 private:
  friend class CommandLine;

  // The error for a value option given without its value; `name` as CLI11
  // reports it (the long form).
  std::string MissingText(const std::string &name) const;
  // Moves the positionals up past the source when --drive took its place.
  void AfterParse();
  void NoteMissing(const std::string &names, const std::string &missing);

  CLI::App &m_app;
  std::map<std::string, std::string> m_missing;  // by long (or only) option name
  std::vector<std::string *> m_positionals;      // in order
  SourceArg *m_source = nullptr;
  size_t m_sourceAt = 0;  // its place among m_positionals
  std::string m_tooMany;
};

// One program's command line.
class CommandLine {
 public:
  // `program` is the name --version and the usage line give; `errorPrefix`
  // goes before every error the front prints ("orvan-mkdisk: ").
  CommandLine(const std::string &program, const std::string &summary,
              const std::string &errorPrefix = "");
  ~CommandLine();
  CommandLine(const CommandLine &) = delete;
  CommandLine &operator=(const CommandLine &) = delete;

  // The program's own options.
  Command &Main() { return *m_main; }
  // A program without commands: what runs once its options are read.
  void SetRun(std::function<int()> run) { m_run = std::move(run); }
  Command &AddCommand(const std::string &name, const std::string &summary,
                      std::function<int()> run);
  // Text under the program's --help.
  void Footer(const std::string &text);
  // The error for an unknown option, before the option ("unknown option: ").
  void SetUnknownOptionText(const std::string &text) { m_unknownOption = text; }
  // The error for a word no positional takes, before the word ("unexpected
  // argument: "); a command's TooMany() text goes first.
  void SetUnexpectedWordText(const std::string &text) { m_unexpectedWord = text; }

  // Reads the words and runs the program or its command. --help (on the
  // program or a command) and --version print to stdout and return 0; a
  // command line that cannot be carried out prints the usage line and the
  // error on stderr and returns kExitError; no command or an unknown one
  // prints the whole --help there.
  int Run(int argc, const char *const *argv);
  // The program's --help.
  std::string Help() const;
  // For a command that finds its command line cannot be carried out once
  // it runs: prints the usage line and the error, returns kExitError.
  int UsageFailure(const std::string &error) const { return Fail(Selected(), error); }

 private:
  int Fail(const CLI::App &app, const std::string &error) const;
  const CLI::App &Selected() const;
  Command &CommandOf(const CLI::App &app);

  std::string m_program;
  std::string m_errorPrefix;
  std::string m_unknownOption = "unknown option: ";
  std::string m_unexpectedWord = "unexpected argument: ";
  std::shared_ptr<CLI::Formatter> m_formatter;  // the program's and every command's
  std::unique_ptr<CLI::App> m_app;
  std::unique_ptr<Command> m_main;
  std::vector<std::unique_ptr<Command>> m_commands;
  std::map<const CLI::App *, std::function<int()>> m_runs;
  std::function<int()> m_run;
};

// A whole decimal number, the text and nothing else ("-3", "12").
bool ParseWholeNumber(const std::string &text, int64_t &value);

// A whole number within [lo, hi]; false otherwise.
template <typename T>
bool ParseNumberIn(const std::string &text, T lo, T hi, T &value) {
  int64_t parsed = 0;
  if (!ParseWholeNumber(text, parsed) || parsed < int64_t(lo) || parsed > int64_t(hi)) return false;
  value = T(parsed);
  return true;
}

template <typename T>
Command &Command::Number(const std::string &names, T &target, const std::string &valueName,
                         const std::string &description, const std::string &bad, T lo, T hi,
                         const std::string &missing) {
  return Value(
      names, valueName, description,
      [&target, bad, lo, hi](const std::string &text, std::string &error) {
        if (!ParseNumberIn(text, lo, hi, target)) {
          error = bad;
          return false;
        }
        return true;
      },
      missing);
}

template <typename T>
Command &Command::Numbers(const std::string &names, std::vector<T> &target,
                          const std::string &valueName, const std::string &description,
                          const std::string &bad, T lo, T hi, const std::string &missing) {
  return Values(
      names, valueName, description,
      [&target, bad, lo, hi](const std::string &text, std::string &error) {
        T value{};
        if (!ParseNumberIn(text, lo, hi, value)) {
          error = bad;
          return false;
        }
        target.push_back(value);
        return true;
      },
      missing);
}

}  // namespace orvan::tools
