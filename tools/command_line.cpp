#include "tools/command_line.h"

#include <charconv>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "platform/wintime.h"
#include "tools/exit_codes.h"

namespace orvan::tools {

namespace {

// CLI11's help, without the second blank line an option group left empty
// (the hidden --image) puts before the footer.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App *app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string text = CLI::Formatter::make_help(app, std::move(name), mode);
    for (size_t at; (at = text.find("\n\n\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }
};

}  // namespace

bool ParseWholeNumber(const std::string &text, int64_t &value) {
  const char *end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end && !text.empty();
}

bool ParseWhen(const std::string &text, uint32_t &seconds, std::string &error) {
  int64_t s = 0;
  if (!ParseRecorderTime(text, s) || s < 0 || s > int64_t{UINT32_MAX}) {
    error = "not a time: \"" + text + "\" (use \"YYYY-MM-DD hh:mm:ss\" or recorder seconds)";
    return false;
  }
  seconds = uint32_t(s);
  return true;
}

bool ResolveSource(const SourceArg &source, const std::string &what, ResolvedSource &resolved,
                   std::string &error) {
  if (source.drive >= 0) {
    resolved.table = DriveTable(source.images);
    const DriveInfo *info = resolved.table.Find(source.drive);
    if (!info) {
      error = "No such drive: " + std::to_string(source.drive);
      return false;
    }
    resolved.path = info->path;
    resolved.driveNumber = source.drive;
    return true;
  }
  if (source.path.empty()) {
    error = "no " + what + " given";
    return false;
  }
  resolved.path = source.path;
  // The path alone: drive 0 of a table without the machine's disks.
  resolved.table = DriveTable({source.path}, "/nonexistent");
  resolved.driveNumber = 0;
  return true;
}

Command::Command(CLI::App &app) : m_app(app) {}

Command &Command::Flag(const std::string &names, bool &target, const std::string &description) {
  m_app.add_flag(names, target, description);
  return *this;
}

void Command::NoteMissing(const std::string &name, const std::string &missing) {
  m_missing[name] = missing.empty() ? name + " needs a value" : missing;
}

std::string Command::MissingText(const std::string &name) const {
  const auto it = m_missing.find(name);
  return it != m_missing.end() ? it->second : name + " needs a value";
}

Command &Command::Text(const std::string &names, std::string &target, const std::string &valueName,
                       const std::string &description, const std::string &missing) {
  CLI::Option *option = m_app.add_option(names, target, description);
  option->type_name(valueName);
  NoteMissing(option->get_name(), missing);
  return *this;
}

Command &Command::Value(const std::string &names, const std::string &valueName,
                        const std::string &description, Parser parse, const std::string &missing) {
  CLI::Option *option = m_app.add_option_function<std::string>(
      names,
      [parse = std::move(parse)](const std::string &text) {
        std::string error;
        if (!parse(text, error)) throw UsageError(error);
      },
      description);
  option->type_name(valueName);
  NoteMissing(option->get_name(), missing);
  return *this;
}

Command &Command::Values(const std::string &names, const std::string &valueName,
                         const std::string &description, Parser parse, const std::string &missing) {
  CLI::Option *option = m_app.add_option_function<std::vector<std::string>>(
      names,
      [parse = std::move(parse)](const std::vector<std::string> &texts) {
        std::string error;
        for (const std::string &text : texts)
          if (!parse(text, error)) throw UsageError(error);
      },
      description);
  option->type_name(valueName)->allow_extra_args(false)->multi_option_policy(
      CLI::MultiOptionPolicy::TakeAll);
  NoteMissing(option->get_name(), missing);
  return *this;
}

Command &Command::When(const std::string &names, std::optional<uint32_t> &target,
                       const std::string &description, const std::string &bad,
                       const std::string &missing) {
  return Value(
      names, "WHEN", description,
      [&target, bad](const std::string &text, std::string &error) {
        uint32_t seconds = 0;
        if (!ParseWhen(text, seconds, error)) {
          if (!bad.empty()) error = bad;
          return false;
        }
        target = seconds;
        return true;
      },
      missing);
}

Command &Command::Images(std::vector<std::string> &images, bool hidden) {
  CLI::Option *option = m_app.add_option_function<std::vector<std::string>>(
      "--image",
      [&images](const std::vector<std::string> &paths) {
        images.insert(images.end(), paths.begin(), paths.end());
      },
      "a disk image, listed before the machine's drives");
  option->type_name("PATH")->allow_extra_args(false)->multi_option_policy(
      CLI::MultiOptionPolicy::TakeAll);
  if (hidden) option->group("");
  NoteMissing(option->get_name(), "");
  return *this;
}

Command &Command::Positional(const std::string &name, std::string &target,
                             const std::string &description) {
  m_app.add_option(name, target, description)->type_name("");
  m_positionals.push_back(&target);
  return *this;
}

Command &Command::Source(SourceArg &source, const std::string &name,
                         const std::string &description) {
  m_source = &source;
  m_sourceAt = m_positionals.size();
  Positional(name, source.path, description);
  Number("--drive", source.drive, "N", "drive N of the drive table instead of " + name,
         "--drive needs a drive number", 0, 1000);
  return Images(source.images);
}

Command &Command::Common(CommonSwitches &switches) {
  Flag("--json", switches.json, "print the result as JSON");
  Flag("--overwrite", switches.overwrite, "an output may replace an existing file");
  return Flag("--strict", switches.strict, "exit 5 when a damaged source gave a partial result");
}

Command &Command::Footer(const std::string &text) {
  m_app.footer(text);
  return *this;
}

Command &Command::TooMany(const std::string &text) {
  m_tooMany = text;
  return *this;
}

void Command::AfterParse() {
  if (!m_source || m_source->drive < 0 || m_source->path.empty()) return;
  std::string carried = std::move(m_source->path);
  m_source->path.clear();
  for (size_t i = m_sourceAt + 1; i < m_positionals.size() && !carried.empty(); ++i)
    std::swap(carried, *m_positionals[i]);
  if (!carried.empty())
    throw UsageError(m_tooMany.empty() ? "unexpected argument: " + carried : m_tooMany);
}

CommandLine::CommandLine(const std::string &program, const std::string &summary,
                         const std::string &errorPrefix)
    : m_program(program),
      m_errorPrefix(errorPrefix),
      m_formatter(std::make_shared<HelpFormatter>()),
      m_app(std::make_unique<CLI::App>(summary, program)) {
  m_formatter->label("SUBCOMMAND", "COMMAND");
  m_formatter->column_width(32);
  m_app->formatter(m_formatter);
  // Inherited by the commands: words nobody takes are reported here, with
  // the tools' own texts; an option given twice keeps its last value.
  m_app->allow_extras();
  m_app->require_subcommand(0, 1);
  m_app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  m_app->set_version_flag("--version", program + " " + ORVAN_VERSION, "Print the version and exit");
  m_main = std::make_unique<Command>(*m_app);
}

CommandLine::~CommandLine() = default;

Command &CommandLine::AddCommand(const std::string &name, const std::string &summary,
                                 std::function<int()> run) {
  CLI::App *sub = m_app->add_subcommand(name, summary);
  sub->group("Commands");
  m_runs[sub] = std::move(run);
  m_commands.push_back(std::make_unique<Command>(*sub));
  return *m_commands.back();
}

void CommandLine::Footer(const std::string &text) { m_app->footer(text); }

std::string CommandLine::Help() const {
  return m_formatter->make_help(m_app.get(), m_program, CLI::AppFormatMode::Normal);
}

const CLI::App &CommandLine::Selected() const {
  const auto chosen = m_app->get_subcommands();
  return chosen.empty() ? *m_app : *chosen.front();
}

Command &CommandLine::CommandOf(const CLI::App &app) {
  for (auto &command : m_commands)
    if (&command->App() == &app) return *command;
  return *m_main;
}

int CommandLine::Fail(const CLI::App &app, const std::string &error) const {
  const std::string name = &app == m_app.get() ? m_program : m_program + " " + app.get_name();
  std::fputs(m_formatter->make_usage(&app, name).c_str(), stderr);
  std::fprintf(stderr, "%s%s\n", m_errorPrefix.c_str(), error.c_str());
  return kExitError;
}

int CommandLine::Run(int argc, const char *const *argv) {
  try {
    m_app->parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::fputs(m_app->help().c_str(), stdout);  // the chosen command's
    return kExitOk;
  } catch (const CLI::CallForVersion &version) {
    std::printf("%s\n", version.what());
    return kExitOk;
  } catch (const UsageError &error) {
    return Fail(Selected(), error.what());
  } catch (const CLI::ArgumentMismatch &error) {
    // "NAME: 1 required TYPE missing": a value option at the end of the
    // words, or before another option.
    const std::string text = error.what();
    const size_t colon = text.find(':');
    if (colon != std::string::npos && text.size() > 8 &&
        text.compare(text.size() - 8, 8, " missing") == 0)
      return Fail(Selected(), CommandOf(Selected()).MissingText(text.substr(0, colon)));
    return Fail(Selected(), text);
  } catch (const CLI::ParseError &error) {
    return Fail(Selected(), error.what());
  }

  const CLI::App &chosen = Selected();
  const bool commandMissing = &chosen == m_app.get() && !m_runs.empty();
  for (const std::string &word : m_app->remaining(true)) {
    if (word == "--") continue;
    if (word.size() > 1 && word[0] == '-') return Fail(chosen, m_unknownOption + word);
    if (commandMissing) {
      std::fputs(Help().c_str(), stderr);
      std::fprintf(stderr, "%sunknown command: %s\n", m_errorPrefix.c_str(), word.c_str());
      return kExitError;
    }
    const std::string &tooMany = CommandOf(chosen).m_tooMany;
    return Fail(chosen, tooMany.empty() ? m_unexpectedWord + word : tooMany);
  }
  if (commandMissing) {
    std::fputs(Help().c_str(), stderr);
    return kExitError;
  }
  try {
    CommandOf(chosen).AfterParse();
  } catch (const UsageError &error) {
    return Fail(chosen, error.what());
  }
  const auto run = m_runs.find(&chosen);
  if (run != m_runs.end()) return run->second();
  return m_run ? m_run() : kExitOk;
}

}  // namespace orvan::tools
