#!/bin/bash
# The manual pages and the bash completion: ombrix.1 renders without a
# warning and has a section for every subcommand ombrix --help lists, with
# every option of that subcommand; the completion offers the subcommands,
# each subcommand's options and the choices of --hex; ombrix-sim.1 (kept by
# hand) names every option of ombrix-sim --help.
# Environment: OMBRIX_TOOL, OMBRIX_MAN, OMBRIX_COMPLETION, OMBRIX_SIM_MAN and,
# when ombrix-sim is built, OMBRIX_SIM.
set -u
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# The page as text, one long line per paragraph; roff's warnings are failures.
render() {
    local page=$1 warnings
    if command -v groff >/dev/null; then
        warnings=$(groff -man -ww -z "$page" 2>&1)
        [[ -z $warnings ]] || fail "$page: groff warns: $warnings"
    fi
    if command -v man >/dev/null; then
        MANWIDTH=1000 MAN_KEEP_FORMATTING= man -l "$page" 2>&1 | col -b
    else
        groff -man -Tutf8 -rLL=1000n "$page" 2>&1 | col -b
    fi
}
if ! command -v man >/dev/null && ! command -v groff >/dev/null; then
    echo "neither man nor groff: skipped"
    exit 77
fi

# The long options (and -x short ones) of a --help text's Options section.
options_of() {
    sed -n '/^Options:/,/^$/p' | grep -oE '^  (-[[:alnum:]],)?--[[:alnum:]-]+' | tr ',' '\n' | sed 's/^ *//'
}

page=$(render "$OMBRIX_MAN")
grep -q '^OMBRIX(1)' <<<"$page" || fail "ombrix.1 has no OMBRIX(1) header"
mapfile -t subs < <("$OMBRIX_TOOL" --help | sed -n '/^Subcommands:/,$p' | grep -oE '^  [[:alnum:]-]+' | sed 's/^ *//')
(( ${#subs[@]} > 10 )) || fail "ombrix --help lists only ${#subs[@]} subcommands"
for sub in "${subs[@]}"; do
    # The subcommand's section: its heading up to the next heading.
    section=$(awk -v s="$sub" '$0 == "   " s { on = 1; next } on && /^   [^ ]/ { exit } on' <<<"$page")
    if [[ -z $section ]]; then
        fail "ombrix.1 has no section for $sub"
        continue
    fi
    for option in $("$OMBRIX_TOOL" "$sub" --help | options_of); do
        grep -qe "$option" <<<"$section" || fail "ombrix.1: $sub has no $option"
    done
done

# COMPREPLY of _ombrix for the words given.
complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 )); _ombrix; echo "${COMPREPLY[*]}"' \
        _ "$OMBRIX_COMPLETION" "$@"
}
offered=" $(complete_words ombrix '') "
for sub in "${subs[@]}"; do
    [[ $offered == *" $sub "* ]] || fail "completion of 'ombrix ' lacks $sub"
done
[[ " $(complete_words ombrix re) " == " readers read read-record " ]] ||
    fail "completion of 'ombrix re': $(complete_words ombrix re)"
[[ $(complete_words ombrix --hex '') == "spaced packed colon" ]] ||
    fail "completion of 'ombrix --hex ': $(complete_words ombrix --hex '')"
for sub in "${subs[@]}"; do
    offered=" $(complete_words ombrix --trace "$sub" --) "
    for option in $("$OMBRIX_TOOL" "$sub" --help | options_of | grep -e '^--'); do
        [[ $offered == *" $option "* ]] || fail "completion of 'ombrix $sub --' lacks $option"
    done
done

sim_page=$(render "$OMBRIX_SIM_MAN")
grep -q '^OMBRIX-SIM(1)' <<<"$sim_page" || fail "ombrix-sim.1 has no OMBRIX-SIM(1) header"
if [[ -n ${OMBRIX_SIM:-} ]]; then
    for option in $("$OMBRIX_SIM" --help | options_of); do
        grep -qe "$option" <<<"$sim_page" || fail "ombrix-sim.1 has no $option"
    done
fi
exit $status
