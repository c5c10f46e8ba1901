# Demo steps for reading archives, meant to be sourced by the demo script after its own
# steps: it provides `step`, the hosts `linux` and `win64`, $root and a scratch folder as the
# current folder. examples/sample.zbk is written by the project's own test support
# (KYRZBK_WRITE_SAMPLE=1 kyrzbk_tests --gtest_filter='SampleArchive.*').
cp "$root/examples/sample.zbk" sample.zbk
step "List a sample archive: stored and compressed entries in sub-folders" \
    linux list sample.zbk
step "The same listing as JSON, one object per entry" \
    linux list --json sample.zbk
step "Verify it: every entry is expanded in a scratch folder and its checksum compared" \
    linux verify sample.zbk
step "Extract it below read-sample/, creating the folders" \
    linux --quiet extract sample.zbk -C read-sample
step "What was extracted" \
    find read-sample -type f
step "The 64-bit Windows build under wine64 lists, verifies and extracts the same archive" \
    win64 list --json sample.zbk
step "  (verify)" win64 verify sample.zbk
step "  (extract)" win64 --quiet extract sample.zbk -C read-sample-win64
step "Both extractions are identical" \
    diff -r read-sample read-sample-win64
