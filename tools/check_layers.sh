#!/usr/bin/env bash
# Fails when an include runs upward through the layers, or when code outside
# platform/ includes an OS or third-party header.
#
#   platform <- runtime <- datatypes <- interpreter <- boot <- library, console, io, view
#
# A folder includes itself and the folders beneath it. Project includes are
# written with their folder ("runtime/cell.h"); one without a folder is refused
# too, so that no include hides its layer.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    platform) echo 0 ;;
    runtime) echo 1 ;;
    datatypes) echo 2 ;;
    interpreter) echo 3 ;;
    boot) echo 4 ;;
    library | console | io | view) echo 5 ;;
    *) echo -1 ;;
  esac
}

bad=0
for dir in platform runtime datatypes interpreter boot library console io view; do
  [ -d "$dir" ] || continue
  own=$(rank "$dir")
  while IFS= read -r line; do
    file=${line%%:*}
    rest=${line#*:}
    num=${rest%%:*}
    text=${rest#*:}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      if [[ $target != */* ]]; then
        echo "$file:$num: include without its folder: \"$target\""
        bad=1
        continue
      fi
      # Fundamental types and compiler helpers, no code: beneath every layer.
      [[ $target == runtime/base.h ]] && continue
      theirs=$(rank "${target%%/*}")
      if ((theirs < 0)); then
        echo "$file:$num: include outside the layers: \"$target\""
        bad=1
      elif ((theirs > own)); then
        echo "$file:$num: $dir/ includes upward: \"$target\""
        bad=1
      fi
    elif [[ $dir != platform && $text =~ \#[[:space:]]*include[[:space:]]*\<([^\>]+\.h)\> ]]; then
      target=${BASH_REMATCH[1]}
      # The sanitizer interface comes with the compiler, not the OS.
      [[ $target == sanitizer/* ]] && continue
      echo "$file:$num: only platform/ includes OS or library headers: <$target>"
      bad=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' "$dir" --include='*.h' --include='*.hpp' \
    --include='*.cpp' --include='*.cc' --include='*.inc' || true)
done

if ((bad)); then
  echo "check_layers: FAILED (folders are layers; an upcall goes through runtime/services.h)"
  exit 1
fi
echo "check_layers: ok"
