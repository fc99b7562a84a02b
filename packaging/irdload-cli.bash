# bash completion for irdload-cli                                   -*- shell-script -*-
# Self-contained: it needs none of bash-completion's helpers.

_irdload_cli_ports() {
  local p
  COMPREPLY+=($(compgen -W "COM1 COM2 COM3 COM4" -- "$cur"))
  for p in /dev/ttyS[0-9]* /dev/ttyUSB[0-9]* /dev/ttyACM[0-9]* /dev/serial/by-id/*; do
    [[ -e $p && $p == "$cur"* ]] && COMPREPLY+=("$p")
  done
}

# Upgrade files (.uuc, .u01, .u02) and folders to look into.
_irdload_cli_upgrade_files() {
  local f IFS=$'\n'
  compopt -o filenames 2>/dev/null
  for f in $(compgen -f -- "$cur"); do
    [[ -d $f || $f == *.uuc || $f == *.u01 || $f == *.u02 ]] && COMPREPLY+=("$f")
  done
}

_irdload_cli_files() {
  local IFS=$'\n'
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -- "$cur"))
}

_irdload_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" i
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      send | inspect | ports | doctor | make-sample | station | fleet | virtual-ird)
        command=${COMP_WORDS[i]}
        break
        ;;
    esac
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "send inspect ports doctor make-sample station fleet virtual-ird --help --version" -- "$cur"))
    return
  fi

  case $prev in
    --port | -p)
      _irdload_cli_ports
      return
      ;;
    --trace | --report | --trace-dir | --links | --mqtt-ca | --mqtt-credentials)
      _irdload_cli_files
      return
      ;;
    --simulate-fault | --fault)
      COMPREPLY=($(compgen -W "NackHeader NackPacket DropReply CorruptReply ClearBit20 Garbage
        SilentFrom FailTerminate CorruptPacketByte DelayReply HangUpAt" -- "$cur"))
      return
      ;;
    --type)
      COMPREPLY=($(compgen -W "single first second" -- "$cur"))
      return
      ;;
    --next-unit)
      COMPREPLY=($(compgen -W "prompt replug quiet:" -- "$cur"))
      return
      ;;
    --baud | --read-pauses | --connect-timeout | --size | --seed | --units | --retries | --count | --unit-id)
      return  # a number
      ;;
    --name | --http | --mqtt)
      return  # free text
      ;;
  esac

  local options
  case $command in
    send) options="--port --simulate --baud --simulate-fault --read-pauses --trace
      --connect-timeout --json --report --unit-id --help" ;;
    station) options="--port --units --retries --next-unit --ask-unit-id --json --report
      --trace-dir --connect-timeout --read-pauses --name --http --mqtt --mqtt-ca
      --mqtt-credentials --help" ;;
    fleet) options="--mqtt --mqtt-ca --mqtt-credentials --report --http --name --help" ;;
    virtual-ird) options="--count --links --baud --fault --seed --repeat-after --hold --timing --help" ;;
    doctor) options="--json --help" ;;
    make-sample) options="--size --type --seed --help" ;;
    *) options="--help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case $command in
    send | inspect | station) _irdload_cli_upgrade_files ;;
    doctor) _irdload_cli_ports ;;
    make-sample) _irdload_cli_files ;;
  esac
}

complete -F _irdload_cli irdload-cli
