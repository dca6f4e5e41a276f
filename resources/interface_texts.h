#pragma once
// The stub's texts in English, by string id: the string table's defaults, which an archive
// packed with other texts replaces. The packer also writes 2000-2016, with the exit
// question after the delete question, into every archive's header. %s marks where the
// stub puts a path. Plain macros: the resource compiler reads this file too, so a quote
// inside a text is written \042, which both compilers read alike.

#define TEXT_2000 "Extracting Files"
#define TEXT_2001 "Please Wait ..."
#define TEXT_2002 "Browse for Folder"
#define TEXT_2003 "Select the folder where do you want to extract files to"
#define TEXT_2004 "Confirmation"
#define TEXT_2005 "Do you want to delete extracted temporary files?"
#define TEXT_2006 "Decrypting Files"
#define TEXT_2007 "Please Enter Password:"
#define TEXT_2008 "Password Invalid. Try one more time..."
#define TEXT_2009 "&Yes"
#define TEXT_2010 "&No"
#define TEXT_2011 "Cancel"
#define TEXT_2012 "OK"
#define TEXT_2013 "Error"
#define TEXT_2014 "There is not enough free space on drive %s: to extract files."
#define TEXT_2015 "Cannot extract files. Arhive corrupted."
#define TEXT_2016 "I/O error occurrs. Check the destination disk is not write protected."
#define TEXT_2017 "Do you want to exit now?"
#define TEXT_2018 "Information"
#define TEXT_2019 "Please Wait..."
#define TEXT_2020 "Invalid archive format."
#define TEXT_2021 "Cannot locate header."
#define TEXT_2022 "Cannot load header."
#define TEXT_2023 "Memory allocation failed."
#define TEXT_2024 "Files were succesfully extracted, but an internal Windows problem occurs to start setup.\r\n\r\nExtractor will terminate the job now.\r\n\r\nAfter that to setup the product, please start the program: \042%s\042"
#define TEXT_2025 "Could not start: %s\r\nPlease try this manually."
#define TEXT_2026 "The temporary folder cannot be found, or its path is too long."
#define TEXT_2027 "Cannot create a folder for the extracted files in \042%s\042."
#define TEXT_2028 "The folder \042%s\042 cannot be named in this system's code page."
#define TEXT_2029 "This self extracting archive is encrypted."
