# Demo steps for writing archives, sourced by the demo script (see read_sample.sh).
# examples/mission/ is a small sample folder of the project's own.
step "Pack a sample folder into a new archive (text compressed by extension, the rest stored)" \
    linux --quiet pack mission.zbk "$root/examples/mission"
step "Add a file to the archive under a sub-folder" \
    linux --quiet pack mission.zbk "$root/examples/extra" briefing.html --sub-path docs
step "Delete an entry" \
    linux --quiet delete mission.zbk data/heightmap.bin
step "List the result" \
    linux list mission.zbk
step "Verify it" \
    linux verify mission.zbk
step "The 64-bit Windows build reads the archive the Linux build wrote" \
    win64 verify mission.zbk
