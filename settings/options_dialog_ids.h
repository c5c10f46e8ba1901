// Resource and control ids of the options dialog, shared by its template and its code.
// Plain macros, because the resource compiler reads this file too.
#pragma once

#define IDD_OPTIONS 106

#define IDC_COMPRESSION_GROUP 1015
#define IDC_SIGNATURE_GROUP 1016
#define IDC_DECODING_GROUP 1017

#define IDC_SAVE 1
#define IDC_CANCEL 2
#define IDC_LOAD_DEFAULTS 1019
#define IDC_SESSION_ONLY 1020

#define IDC_USE_COMPRESSION 1004
#define IDC_COMPRESS_ALL 1006
#define IDC_FORMATS_LABEL 1008
#define IDC_FORMATS 1007

#define IDC_FORCE_SIGNATURE 1009
#define IDC_KEEP_SUFFIX 1010
#define IDC_SUFFIX_KEY_LABEL 1011
#define IDC_SUFFIX_KEY 1012
#define IDC_SUFFIX_VALUE_LABEL 1013
#define IDC_SUFFIX_VALUE 1014

#define IDC_WRITE_COMMENTS 1018
