# Demo steps for the settings, sourced by the demo script (see read_sample.sh).
printf '[Other]\r\nx=1\r\n[KYRZBK_HLV]\r\nUseCompression=1\r\nWriteCppComments=0\r\n' >plugins.ini
step "Options: the Linux plug-in has no dialog, so the host shows the section to edit by hand" \
    linux --ini plugins.ini options
