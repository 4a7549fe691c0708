/* Identifiers shared by the dialog layouts in this folder and the window code. */
#pragma once

/* The preprocessing dialog: the host-instance edition's has a close button, the local-server
   edition's has none. */
#define IDD_DEALWITHBACKUP_HOST 100
#define IDD_DEALWITHBACKUP_LOCAL 101
#define IDC_RZPANEL_BOTTOM 1001
#define IDC_PROGRESS_STEP 1002
#define IDC_RZPANEL_CLIENT 1003
#define IDC_RZLABEL_SHOWINFO 1004

/* The backup-set chooser; its OK button is IDOK. */
#define IDD_GETFILELIST 200
#define IDC_RZPANEL1 2001
#define IDC_RZPANEL2 2002
#define IDC_LIST_FILES 2003
#define IDS_LIST_FILES_COLUMN1 2101
#define IDS_LIST_FILES_COLUMN2 2102
