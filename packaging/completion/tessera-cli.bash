# bash completion for tessera-cli: its commands, each command's options, and
# archive names (.qpx, .qpi) where an archive goes.

_tessera_cli_archives() {
  # Folders too, so that the user can walk down to an archive.
  local IFS=$'\n'
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -X '!*.qp[xi]' -- "$cur") $(compgen -d -- "$cur"))
}

_tessera_cli() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local commands="info list test extract generations history diff find"
  local command="" i positional=0
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --generation | --log | --min-size | --max-size | --newer | --older) ((i++)) ;;
      -*) ;;
      *)
        if [[ -z $command ]]; then command=${words[i]}; else ((positional++)); fi
        ;;
    esac
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
    return
  fi

  case $prev in
    --log)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --generation | --min-size | --max-size | --newer | --older)
      return
      ;;
  esac

  local options="--help"
  case $command in
    info) options+=" --json" ;;
    list) options+=" --json --generation --rebuild-damaged" ;;
    test) options+=" --generation --rebuild-damaged" ;;
    extract) options+=" --overwrite --skip-existing --yes --log --quiet --generation --rebuild-damaged" ;;
    generations | history | diff) options+=" --json --rebuild-damaged" ;;
    find) options+=" --json --min-size --max-size --newer --older --rebuild-damaged" ;;
    *) return ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  if ((positional == 0)); then
    _tessera_cli_archives
  elif [[ $command == extract && $positional == 1 ]]; then
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur"))
  fi
} &&
  complete -F _tessera_cli tessera-cli
