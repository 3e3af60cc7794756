#!/usr/bin/env bash
# doc_examples.sh BIN_DIR SOURCE_DIR DOC...
#
# Runs every tarnflash and kv32sim example of the documents as written. An
# example is a line of a code block (fenced, or indented by four blanks) that
# starts, after an optional "$ " prompt, with tarnflash or kv32sim (or
# build/bin/ and one of them). Lines marked "(not run" need root or hardware
# and are left out.
#
# tarnflash lines run through bash in a scratch folder that holds the files
# the examples name (./app.hex, ./app.bin), against one simulated chip whose
# port replaces the example's pts/N. They must exit with 0, or with the code a
# trailing "# exit code N" names; after a "$ " prompt, the lines the block shows
# below the command ("..." aside) must be among those the program printed.
# kv32sim lines start a simulator that must name its terminal, then stop it.
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
shift 2

work=$(mktemp -d /tmp/tarnflash-docs-XXXXXX)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The build tree's programs, under the names the documents use.
mkdir -p "$work/build"
ln -s "$bin" "$work/build/bin"
export PATH="$bin:$PATH"
cd "$work" || exit 1
head -c 6000 /dev/urandom >app.bin
objcopy -I binary -O ihex --change-addresses 0x08000000 app.bin app.hex

# Starts kv32sim ARGS... in the background; prints its port once it names it.
start_sim() {
  local out=$work/sim.$RANDOM
  kv32sim "$@" >"$out" 2>&1 &
  local pid=$! port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^{"pty": "\/dev\/[^"]*", "port": "\([^"]*\)"}$/\1/p' "$out")
    [[ -n $port ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "$pid $port"
}

read -r sim_pid port < <(start_sim --link usart --device KV32S04 --state "$work/docs.state")
if [[ -z $port ]]; then
  echo "the simulated chip did not start"
  exit 1
fi

failures=0
examples=0
fail() {
  echo "$doc:$at: $1"
  echo "    $command"
  failures=$((failures + 1))
}

# Checks the output the document shows for the last "$ " command.
check_shown() {
  local line
  for line in "${shown[@]}"; do
    grep -qxF -- "$line" <<<"$printed" || fail "not printed: $line"
  done
}

run_example() {
  local line=$1 expected=0
  at=$number
  [[ $line =~ \#\ exit\ code\ ([0-9]+) ]] && expected=${BASH_REMATCH[1]}
  command=${line#\$ }
  command=${command%%#*}
  command=${command%"${command##*[![:space:]]}"}
  examples=$((examples + 1))
  [[ -n ${DOCS_TRACE:-} ]] && echo "$(date +%s.%N) $doc:$number $line" >&2
  case $command in
    kv32sim* | build/bin/kv32sim*)
      local args=${command#*kv32sim}
      args=${args%&}
      local pid sim_port
      # shellcheck disable=SC2086
      eval "read -r pid sim_port < <(start_sim $args)"
      [[ -n $sim_port ]] || fail "kv32sim named no terminal"
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      printed=
      ;;
    *)
      command=$(sed -E "s#pts/[0-9]+#$port#g" <<<"$command")
      printed=$(bash -c "$command" 2>&1)
      local code=$?
      [[ $code -eq $expected ]] || fail "exit code $code, not $expected"
      ;;
  esac
}

fence='^[[:space:]]*```'
indent='^    '
example='^(\$ )?(build/bin/)?(tarnflash|kv32sim)([[:space:]]|$)'
for doc in "$@"; do
  number=0
  fenced=0
  indented=0
  previous_blank=1
  shown=()
  prompted=0
  while IFS= read -r text || [[ -n $text ]]; do
    number=$((number + 1))
    if [[ $text =~ $fence ]]; then
      fenced=$((1 - fenced))
      continue
    fi
    if ((!fenced)); then
      if [[ $text =~ $indent ]] && ((previous_blank || indented)); then
        indented=1
      elif [[ -n ${text// /} ]]; then
        indented=0
      fi
      [[ -z ${text// /} ]] && previous_blank=1 || previous_blank=0
    fi
    if ((!fenced && !indented)); then
      ((prompted)) && check_shown
      prompted=0
      shown=()
      continue
    fi
    line=${text#"${text%%[![:space:]]*}"}
    [[ -z $line ]] && continue
    if [[ $line =~ $example ]]; then
      ((prompted)) && check_shown
      shown=()
      prompted=0
      [[ $line == *"(not run"* ]] && continue
      [[ $line == \$\ * ]] && prompted=1
      run_example "$line"
    elif ((prompted)) && [[ $line != "..." && $line != '{"pty":'* ]]; then
      shown+=("$line")
    fi
  done <"$src/$doc"
  ((prompted)) && check_shown
done

echo "$examples examples run, $failures failures"
[[ $failures -eq 0 && $examples -gt 0 ]]
