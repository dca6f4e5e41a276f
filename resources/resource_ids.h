#pragma once
// Ids shared by the stub's resource script and its code. Plain macros: the resource
// compiler reads this file too.

#define IDD_CONFIRM 200
#define IDD_PASSWORD 400
#define IDI_DIALOG 111
// Type VEXAMETHODS, apart from the archive's RCDATA: the item methods the stub reads
// beside stored and zlib ("lzma2").
#define IDR_METHODS 1

#define IDS_STATUS_CAPTION 2000
#define IDS_PLEASE_WAIT 2001
#define IDS_BROWSE_CAPTION 2002
#define IDS_BROWSE_INSTRUCTION 2003
#define IDS_CONFIRM_TITLE 2004
#define IDS_DELETE_QUESTION 2005
#define IDS_PASSWORD_TITLE 2006
#define IDS_PASSWORD_PROMPT 2007
#define IDS_PASSWORD_INVALID 2008
#define IDS_YES 2009
#define IDS_NO 2010
#define IDS_CANCEL 2011
#define IDS_OK 2012
#define IDS_ERROR 2013
#define IDS_NO_FREE_SPACE 2014
#define IDS_ARCHIVE_CORRUPTED 2015
#define IDS_IO_ERROR 2016
#define IDS_EXIT_QUESTION 2017
#define IDS_INFORMATION 2018
#define IDS_WAIT_NOTE 2019
#define IDS_INVALID_ARCHIVE 2020
#define IDS_HEADER_MISSING 2021
#define IDS_HEADER_UNREADABLE 2022
#define IDS_OUT_OF_MEMORY 2023
#define IDS_PROGRAM_MISSING 2024
#define IDS_START_FAILED 2025
#define IDS_NO_TEMP_FOLDER 2026
#define IDS_NO_OWN_FOLDER 2027
#define IDS_FOLDER_UNNAMEABLE 2028
#define IDS_ENCRYPTED_NOTE 2029

#define IDC_MAIN_TEXT 10
#define IDC_PASSWORD 11
#define IDC_ERROR_LINE 12
#define IDC_DIALOG_ICON 13
#define IDC_ENCRYPTED_NOTE 14
