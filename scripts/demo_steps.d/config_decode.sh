# Demo steps for configuration files, sourced by the demo script (see read_sample.sh).
step "Decode a second-game configuration file to text" \
    linux decode "$root/examples/tesk_config.bin"
step "Decode a first-game configuration file into a file" \
    linux decode "$root/examples/kyr_config.bin" -o kyr_config.cpp
step "The same through the 64-bit Windows build under wine64; both texts are identical" \
    win64 decode "$root/examples/kyr_config.bin" -o kyr_config_win64.cpp
step "  (compare)" cmp kyr_config.cpp kyr_config_win64.cpp
