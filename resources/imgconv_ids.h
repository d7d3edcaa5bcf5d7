/* Control ids of the converter dialog, shared by imgconv.rc and the dialog code. */
#ifndef ZP3K_IMGCONV_IDS_H
#define ZP3K_IMGCONV_IDS_H

#define IDD_CONVERT         129  /* dialog template */
#define IDS_COMMENT_NOT_CP932 1  /* string: the comment holds a character cp932 lacks */

#define IDC_SOURCE_PATH     1000 /* edit: source S-record path */
#define IDC_BROWSE          1001 /* button: browse for the source */
#define IDC_DEST_NAME       1002 /* edit: destination name (".bin" is appended) */
#define IDC_SOURCE_LABEL    1004
#define IDC_DEST_LABEL      1005
#define IDC_VERSION         1006 /* edit: version text */
#define IDC_COMMENT         1007 /* multi-line edit: comment */
#define IDC_VERSION_LABEL   1009
#define IDC_COMMENT_LABEL   1010
#define IDC_HEADER_ONLY     1011 /* check box: write the 64-byte header alone */
#define IDC_BIN_LABEL       1012 /* static ".bin" beside the destination name */

#endif
