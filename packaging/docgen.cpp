// tvq-docgen: writes the man page tvq.1 and the bash and zsh completion scripts from the
// tool's own command table and option descriptors, the ones --help is printed from, so
// that the three cannot drift from the program. Run by the build:
//
//   tvq-docgen TEMPLATE MAN_OUT BASH_OUT ZSH_OUT
//
// TEMPLATE is the hand-written part of the man page (packaging/tvq.1.in, already
// configured with the version and date); its lines %%SYNOPSIS%%, %%COMMANDS%%,
// %%PICTURE_OPTIONS%% and %%COMMON_OPTIONS%% are replaced by the generated sections.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/picturecommand.h"
#include "imaging/io/picture.h"
#include "imaging/parallel.h"

namespace tvq::cli {
namespace {

// ---- What the command table says ----

// The help of an option without what only this machine says: --threads names the
// build machine's core count, which means nothing on the reader's.
std::string PortableHelp(std::string text) {
  const auto replace = [&text](const std::string& from, const std::string& to) {
    if (const auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
  };
  const int cores = HardwareThreads();
  replace("all " + std::to_string(cores) + (cores == 1 ? " core" : " cores"), "all cores");
  replace(", " + std::to_string(UsefulThreads()) + ", are used", " are used");
  return text;
}

// Every option a command takes, in the order of its --help.
std::vector<OptionSpec> AllOptions(const Command& command) {
  std::vector<OptionSpec> options = command.options;
  if (command.picture) options = Join(options, PictureOptions());
  return Join(options, CommonOptions());
}

bool HasOutput(const Command& command) {
  for (const auto& o : AllOptions(command))
    if (o.name == "output") return true;
  return false;
}

// The readable picture extensions without their dots.
std::vector<std::string> Extensions() {
  std::vector<std::string> names;
  for (const auto& ext : PictureExtensions()) names.push_back(ext.substr(1));
  return names;
}

// What an option's value completes to, read from its value name: a choice setting's
// names joined by "|" (a part "A..B" stands for the whole numbers A to B; a part in
// capitals such as CAPTION is a placeholder and offers nothing), OUTDIR a folder, EXT a
// picture extension, any other placeholder (N, SIZE, ...) nothing.
struct ValueCompletion {
  enum Kind { kFlag, kWords, kFolder, kNothing } kind = kFlag;
  std::vector<std::string> words;
};

bool IsPlaceholder(const std::string& part) {
  for (const char c : part)
    if (std::isupper(static_cast<unsigned char>(c)) || c == ' ') return true;
  return part.empty();
}

ValueCompletion CompletionOf(const OptionSpec& option) {
  if (option.valueName.empty()) return {};
  if (option.valueName == "OUTDIR") return {ValueCompletion::kFolder, {}};
  if (option.valueName == "EXT") return {ValueCompletion::kWords, Extensions()};
  ValueCompletion result{ValueCompletion::kNothing, {}};
  std::stringstream parts(option.valueName);
  std::string part;
  while (std::getline(parts, part, '|')) {
    int first = 0, last = 0;
    char tail = 0;
    if (std::sscanf(part.c_str(), "%d..%d%c", &first, &last, &tail) == 2 && first <= last &&
        last - first < 1000) {
      for (int i = first; i <= last; ++i) result.words.push_back(std::to_string(i));
    } else if (!IsPlaceholder(part)) {
      result.words.push_back(part);
    }
  }
  if (!result.words.empty()) result.kind = ValueCompletion::kWords;
  return result;
}

std::string JoinWords(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : separator) + w;
  return text;
}

// ---- Man page ----

// Text for roff: backslashes escaped, a dash inside a word that starts with one (an
// option, typed as it is) as a minus sign, and a line never starting with a control
// character.
std::string Roff(const std::string& text, bool literal = false) {
  std::string out;
  bool optionWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool wordStart = i == 0 || text[i - 1] == ' ' || text[i - 1] == '(';
    if (wordStart) optionWord = c == '-';
    if (c == '\\')
      out += "\\e";
    else if (c == '-' && (literal || optionWord))
      out += "\\-";
    else
      out += c;
    if (c == ' ') optionWord = false;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// A summary as a sentence: a capital first letter and a full stop.
std::string Sentence(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

void ManOptions(std::ostream& out, const std::vector<OptionSpec>& options) {
  for (const auto& o : options) {
    out << ".TP\n\\fB\\-\\-" << Roff(o.name, true) << "\\fR";
    if (o.name == "output") out << ", \\fB\\-o\\fR";
    if (!o.valueName.empty()) out << " \\fI" << Roff(o.valueName, true) << "\\fR";
    out << "\n" << Roff(PortableHelp(o.help)) << "\n";
  }
}

void ManSynopsisLines(std::ostream& out, const Command& c) {
  out << "\\fBtvq " << Roff(c.name) << "\\fR [\\fIoptions\\fR] \\fI" << Roff(c.synopsis)
      << "\\fR\n";
  if (HasOutput(c))
    out << "\\fBtvq " << Roff(c.name) << "\\fR [\\fIoptions\\fR] \\fIIN\\fR... \\fB\\-o\\fR "
        << "\\fIOUTDIR\\fR\n";
}

std::string ManSynopsis() {
  std::ostringstream out;
  out << ".nf\n";
  for (const auto& c : Commands()) ManSynopsisLines(out, c);
  out << "\\fBtvq \\-\\-help\\fR\n\\fBtvq \\-\\-version\\fR\n.fi\n";
  return out.str();
}

std::string ManCommands() {
  std::ostringstream out;
  for (const auto& c : Commands()) {
    out << ".SS " << Roff(c.name) << "\n.nf\n";
    ManSynopsisLines(out, c);
    out << ".fi\n.PP\n" << Roff(Sentence(c.summary)) << "\n";
    ManOptions(out, c.options);
    out << ".PP\n"
        << (c.picture ? "It also takes the picture options and the common options below.\n"
                      : "It also takes the common options below.\n");
  }
  return out.str();
}

std::string ManOptionSection(const std::vector<OptionSpec>& options) {
  std::ostringstream out;
  ManOptions(out, options);
  return out.str();
}

// ---- bash ----

// A word in single quotes for the shell.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The case branches that complete the values of `options`, each pattern `prefix`
// followed by the option; options with the same completion share a branch.
void BashValueCases(std::ostream& out, const std::vector<OptionSpec>& options,
                    const std::string& prefix) {
  std::map<std::string, std::vector<std::string>> byAction;  // action -> patterns
  for (const auto& o : options) {
    const ValueCompletion v = CompletionOf(o);
    std::string action;
    if (v.kind == ValueCompletion::kFlag) continue;
    if (v.kind == ValueCompletion::kWords)
      action = "COMPREPLY=($(compgen -W " + Quoted(JoinWords(v.words)) + " -- \"$cur\"))";
    else if (v.kind == ValueCompletion::kFolder)
      action = "compopt -o filenames 2>/dev/null\n      COMPREPLY=($(compgen -d -- \"$cur\"))";
    else
      action = ":";  // a number or a free text: nothing to offer
    byAction[action].push_back(Quoted(prefix + "--" + o.name));
    if (o.name == "output") byAction[action].push_back(Quoted(prefix + "-o"));
  }
  for (const auto& [action, patterns] : byAction)
    out << "    " << JoinWords(patterns, " | ") << ")\n      " << action << "\n      return\n"
        << "      ;;\n";
}

std::string Bash() {
  std::ostringstream out;
  out << "# bash completion for tvq                                  -*- shell-script -*-\n"
         "# Written by tvq-docgen from the tool's command table and option descriptors;\n"
         "# rebuild instead of editing.\n\n"
         "# Adds to COMPREPLY the folders and the picture files (by extension, in any case)\n"
         "# whose names start with $1.\n"
         "_tvq_pictures() {\n"
         "  local IFS=$'\\n' name\n"
         "  compopt -o filenames 2>/dev/null\n"
         "  for name in $(compgen -f -- \"$1\"); do\n"
         "    if [[ -d $name ]]; then\n"
         "      COMPREPLY+=(\"$name\")\n"
         "      continue\n"
         "    fi\n"
         "    case \"${name,,}\" in\n"
         "      ";
  std::vector<std::string> patterns;
  for (const auto& ext : Extensions()) patterns.push_back("*." + ext);
  out << JoinWords(patterns, " | ")
      << ") COMPREPLY+=(\"$name\") ;;\n"
         "    esac\n"
         "  done\n"
         "}\n\n"
         "_tvq() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} option=${COMP_WORDS[COMP_CWORD - 1]} options\n"
         "  COMPREPLY=()\n"
         "  if ((COMP_CWORD == 1)); then\n"
         "    COMPREPLY=($(compgen -W ";
  std::vector<std::string> names;
  for (const auto& c : Commands()) names.push_back(c.name);
  names.push_back("--help");
  names.push_back("--version");
  out << Quoted(JoinWords(names))
      << " -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  local command=${COMP_WORDS[1]}\n"
         "  # The option whose value is typed: bash splits --option=VALUE at the '='.\n"
         "  if [[ $cur == = ]]; then\n"
         "    cur=\n"
         "  elif [[ $option == = ]] && ((COMP_CWORD >= 3)); then\n"
         "    option=${COMP_WORDS[COMP_CWORD - 2]}\n"
         "  fi\n"
         "  case \"$command $option\" in\n";
  // Each command's own options, then those that several commands share.
  for (const auto& c : Commands()) BashValueCases(out, c.options, c.name + " ");
  out << "  esac\n"
         "  case $option in\n";
  BashValueCases(out, Join(PictureOptions(), CommonOptions()), "");
  out << "  esac\n"
         "  case $command in\n";
  for (const auto& c : Commands()) {
    std::vector<std::string> flags;
    for (const auto& o : AllOptions(c)) flags.push_back("--" + o.name);
    out << "    " << c.name << ") options=" << Quoted(JoinWords(flags)) << " ;;\n";
  }
  out << "    *) return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  _tvq_pictures \"$cur\"\n"
         "}\n"
         "complete -F _tvq tvq\n";
  return out.str();
}

// ---- zsh ----

// Text inside an _arguments description or message: its special characters escaped,
// ready to stand within single quotes.
std::string ZshText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out;
}

std::string ZshAction(const OptionSpec& o) {
  const ValueCompletion v = CompletionOf(o);
  switch (v.kind) {
    case ValueCompletion::kWords:
      return "(" + JoinWords(v.words) + ")";
    case ValueCompletion::kFolder:
      return "_files -/";
    default:
      return " ";
  }
}

std::string Zsh() {
  std::ostringstream out;
  out << "#compdef tvq\n"
         "# zsh completion for tvq. Written by tvq-docgen from the tool's command table and\n"
         "# option descriptors; rebuild instead of editing.\n\n"
         "# Folders and picture files, by extension in any case.\n"
         "_tvq_pictures() {\n"
         "  _files -g '*.(#i)("
      << JoinWords(Extensions(), "|")
      << ")(-.)'\n"
         "}\n\n"
         "_tvq() {\n"
         "  local -a commands toplevel\n"
         "  commands=(\n";
  for (const auto& c : Commands())
    out << "    '" << ZshText(c.name) << ":" << ZshText(c.summary) << "'\n";
  out << "  )\n"
         "  toplevel=('--help:show the help' '--version:show the version')\n"
         "  if ((CURRENT == 2)); then\n"
         "    _describe -t commands 'tvq command' commands\n"
         "    _describe -t options 'option' toplevel\n"
         "    return\n"
         "  fi\n"
         "  local command=$words[2]\n"
         "  shift words\n"
         "  ((CURRENT--))\n"
         "  case $command in\n";
  for (const auto& c : Commands()) {
    out << "    (" << c.name << ")\n      _arguments -S";
    for (const auto& o : AllOptions(c)) {
      const std::string help = "[" + ZshText(PortableHelp(o.help)) + "]";
      const std::string value =
          o.valueName.empty() ? "" : ":" + ZshText(o.valueName) + ":" + ZshAction(o);
      out << " \\\n        ";
      if (o.name == "output")
        out << "'(-o --output)'{-o+,--output=}'" << help << value << "'";
      else
        out << "'--" << o.name << (o.valueName.empty() ? "" : "=") << help << value << "'";
    }
    out << " \\\n        '*:picture:_tvq_pictures'\n      ;;\n";
  }
  out << "  esac\n"
         "}\n\n"
         "_tvq \"$@\"\n";
  return out.str();
}

// ---- Files ----

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

// The template with each marker line replaced; false when a marker is missing.
bool FillTemplate(std::string& text, const std::map<std::string, std::string>& sections) {
  for (const auto& [marker, section] : sections) {
    const std::string line = marker + "\n";
    const auto at = text.find(line);
    if (at == std::string::npos) return false;
    text.replace(at, line.size(), section);
  }
  return true;
}

int Main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: tvq-docgen TEMPLATE MAN_OUT BASH_OUT ZSH_OUT\n";
    return 2;
  }
  std::string man;
  if (!ReadFile(argv[1], man)) {
    std::cerr << "tvq-docgen: cannot read " << argv[1] << "\n";
    return 1;
  }
  if (!FillTemplate(man, {{"%%SYNOPSIS%%", ManSynopsis()},
                          {"%%COMMANDS%%", ManCommands()},
                          {"%%PICTURE_OPTIONS%%", ManOptionSection(PictureOptions())},
                          {"%%COMMON_OPTIONS%%", ManOptionSection(CommonOptions())}})) {
    std::cerr << "tvq-docgen: " << argv[1] << " lacks one of the %%SECTION%% lines\n";
    return 1;
  }
  const std::pair<const char*, std::string> outputs[] = {
      {argv[2], man}, {argv[3], Bash()}, {argv[4], Zsh()}};
  for (const auto& [path, text] : outputs)
    if (!WriteFile(path, text)) {
      std::cerr << "tvq-docgen: cannot write " << path << "\n";
      return 1;
    }
  return 0;
}

}  // namespace
}  // namespace tvq::cli

int main(int argc, char** argv) {
  return tvq::cli::Main(argc, argv);
}
