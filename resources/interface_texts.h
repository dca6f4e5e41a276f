#pragma once
// The interface texts of the string table, in id order. The packer also writes them,
// with the exit question after the delete question, into every archive's header.
// Plain macros: the resource compiler reads this file too.

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
#define TEXT_EXIT_QUESTION "Do you want to exit now?"
