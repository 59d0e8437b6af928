#!/bin/bash
# The plug-in file with its panel linked in: it exports exactly the two
# entry points, and Ardour's scanner (when installed) finds an editor.
#   check_plugin_file.sh PLUGIN.so
set -u
plugin="$1"
fail=0
exports=$(nm -D --defined-only "$plugin" | awk '{ print $3 }' | sort | tr '\n' ' ')
if [ "$exports" = "VSTPluginMain main " ]; then
    echo "ok: exports $exports"
else
    echo "FAILED: exports are \"$exports\""
    fail=1
fi
undefined=$(ldd -r "$plugin" 2>&1 | grep -c 'undefined symbol')
if [ "$undefined" -eq 0 ]; then echo "ok: no undefined symbols"; else echo "FAILED: $undefined undefined"; fail=1; fi

scanner=/usr/lib/ardour7/ardour-vst-scanner
if [ -x "$scanner" ]; then
    home=$(mktemp -d)
    report=$(LD_LIBRARY_PATH=/usr/lib/ardour7 HOME="$home" timeout 60 "$scanner" -v -f \
        "$(realpath "$plugin")" 2>&1)
    rm -rf "$home"
    if echo "$report" | grep -q 'has_editor="1"'; then
        echo "ok: Ardour's scanner sees the editor"
    else
        echo "FAILED: Ardour's scanner:"
        echo "$report"
        fail=1
    fi
else
    echo "note: no Ardour scanner here; only the exports were checked"
fi
exit $fail
