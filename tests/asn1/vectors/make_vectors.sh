#!/usr/bin/env bash
# Regenerates vectors.hex, the known-answer vectors of the aligned-PER tests,
# with an independent encoder: Erlang's asn1 application (Debian erlang-asn1,
# `erlc -bper`). CI does not run this; it reads the committed vectors.hex.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# erlc names its output after the ASN.1 module.
cp "$here/vectors.asn" "$work/Vectors.asn"
(cd "$work" && erlc -bper Vectors.asn && erlc Vectors.erl)
escript "$here/vectors.escript" "$work" >"$here/vectors.hex"
echo "wrote $(wc -l <"$here/vectors.hex") vectors to $here/vectors.hex"
