# Demo steps for writing archives, sourced by the demo script (see read_sample.sh).
# examples/demo/ is a small sample folder of the project's own.
step "Pack a sample folder into a new archive (text compressed by extension, the rest stored)" \
    linux --quiet pack demo.zbk "$root/examples/demo"
step "Add a file to the archive under a sub-folder" \
    linux --quiet pack demo.zbk "$root/examples/extra" welcome.html --sub-path docs
step "Delete an entry" \
    linux --quiet delete demo.zbk tables/grid.bin
step "List the result" \
    linux list demo.zbk
step "Verify it" \
    linux verify demo.zbk
step "The 64-bit Windows build reads the archive the Linux build wrote" \
    win64 verify demo.zbk
