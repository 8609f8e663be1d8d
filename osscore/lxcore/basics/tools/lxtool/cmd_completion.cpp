// lxtool completion: the bash completion of lxtool, written from the command
// table, so that it offers exactly the commands, actions and options that the
// dispatcher accepts. The build installs its output where bash-completion
// looks (share/bash-completion/completions/lxtool).
//
// The script completes the command word, then the action of a command that has
// actions, then options of the row while no operand has been typed yet (options
// come before the operands, and "--" ends them). Everywhere else, and after an
// option that takes a value, it leaves the word to bash's file-name completion.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace lxtool {

const char kCompletionHelp[] =
    "usage: lxtool completion\n"
    "\n"
    "Prints the bash completion script of lxtool: commands, actions and each\n"
    "command's options. Packages install it as\n"
    "share/bash-completion/completions/lxtool; to try it in a shell:\n"
    "  source <(lxtool completion)\n"
    "\n"
    "Exit status: 0 success, 1 the script cannot be written, 2 usage.\n";

namespace {

std::string FirstWord(const char* name) {
  const char* blank = std::strchr(name, ' ');
  return blank ? std::string(name, blank) : std::string(name);
}

// The options of a row as two blank-separated lists: all spellings, and those
// that take a value.
void OptionLists(const Command& c, std::string* all, std::string* valued) {
  for (const Option& o : c.options) {
    for (const char* spelling : {o.name, o.alias}) {
      if (spelling == nullptr) continue;
      *all += std::string(spelling) + " ";
      if (o.value != nullptr) *valued += std::string(spelling) + " ";
    }
  }
  *all += "--help";
}

}  // namespace

int RunCompletion(const Invocation&) {
  std::string words = "--help --version", actions, single, rows, previous;
  for (const Command& c : Commands()) {
    const std::string word = FirstWord(c.name);
    const char* action = std::strchr(c.name, ' ');
    if (word != previous) {
      words += " " + word;
      if (action != nullptr) actions += "    2," + word + ") words=\"--help";
      if (action == nullptr) single += (single.empty() ? "    " : " | ") + word;
    }
    previous = word;
    if (action != nullptr) {
      actions += action;
      if (&c == &Commands().back() || FirstWord((&c + 1)->name) != word) actions += "\" ;;\n";
    }
    std::string all, valued;
    OptionLists(c, &all, &valued);
    rows += std::string("    \"") + c.name + "\") options=\"" + all + "\" valued=\" " + valued + "\" ;;\n";
  }
  single += ") ;;\n";
  std::printf(
      "# bash completion of lxtool (written by \"lxtool completion\")\n"
      "_lxtool() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} row=${COMP_WORDS[1]} first=2 words= options= valued= i\n"
      "  COMPREPLY=()\n"
      "  case $COMP_CWORD,$row in\n"
      "    1,*) words=\"%s\" ;;\n"
      "%s"
      "  esac\n"
      "  if [ -n \"$words\" ]; then\n"
      "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  case \"$row\" in\n"
      "%s"
      "    *)\n"
      "      first=3\n"
      "      row=\"$row ${COMP_WORDS[2]}\"\n"
      "      ;;\n"
      "  esac\n"
      "  case \"$row\" in\n"
      "%s"
      "    *) return ;;\n"
      "  esac\n"
      "  for ((i = first; i < COMP_CWORD; i++)); do\n"
      "    case ${COMP_WORDS[i]} in\n"
      "      --) return ;;\n"
      "      -[!0-9]*) [[ $valued == *\" ${COMP_WORDS[i]} \"* ]] && i=$((i + 1)) ;;\n"
      "      *) return ;;\n"
      "    esac\n"
      "  done\n"
      "  [ \"$i\" -eq \"$COMP_CWORD\" ] && [[ $cur == -* ]] && COMPREPLY=($(compgen -W \"$options\" -- "
      "\"$cur\"))\n"
      "}\n"
      "complete -o default -F _lxtool lxtool\n",
      words.c_str(), actions.c_str(), single.c_str(), rows.c_str());
  return kExitOk;
}

}  // namespace lxtool
