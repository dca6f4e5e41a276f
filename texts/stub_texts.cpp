#include "texts/stub_texts.h"

#include <algorithm>

#include "resources/interface_texts.h"
#include "resources/resource_ids.h"

namespace vexa::tool {

namespace {

// The buffers are the stub's: LoadStubString loads into 1024 UTF-16 units (only the usage
// text takes more than 256), the dialogs into 256, the status window's title into 255, the
// folder browser's texts into 260. A text takes no more units than bytes in any ANSI code
// page, so its bytes are what is counted.
constexpr StubText Texts[] = {
    {IDS_STATUS_CAPTION, TEXT_2000, 255, false},
    {IDS_PLEASE_WAIT, TEXT_2001, 256, false},
    {IDS_BROWSE_CAPTION, TEXT_2002, 260, false},
    {IDS_BROWSE_INSTRUCTION, TEXT_2003, 260, false},
    {IDS_CONFIRM_TITLE, TEXT_2004, 256, false},
    {IDS_DELETE_QUESTION, TEXT_2005, 256, false},
    {IDS_PASSWORD_TITLE, TEXT_2006, 256, false},
    {IDS_PASSWORD_PROMPT, TEXT_2007, 256, false},
    {IDS_PASSWORD_INVALID, TEXT_2008, 256, false},
    {IDS_YES, TEXT_2009, 256, false},
    {IDS_NO, TEXT_2010, 256, false},
    {IDS_CANCEL, TEXT_2011, 256, false},
    {IDS_OK, TEXT_2012, 256, false},
    {IDS_ERROR, TEXT_2013, 256, false},
    {IDS_NO_FREE_SPACE, TEXT_2014, 256, false},
    {IDS_ARCHIVE_CORRUPTED, TEXT_2015, 256, false},
    {IDS_IO_ERROR, TEXT_2016, 256, false},
    {IDS_EXIT_QUESTION, TEXT_2017, 256, false},
    {IDS_INFORMATION, TEXT_2018, 256, false},
    {IDS_WAIT_NOTE, TEXT_2019, 256, false},
    {IDS_INVALID_ARCHIVE, TEXT_2020, 256, true},
    {IDS_HEADER_MISSING, TEXT_2021, 256, true},
    {IDS_HEADER_UNREADABLE, TEXT_2022, 256, true},
    {IDS_OUT_OF_MEMORY, TEXT_2023, 256, true},
    {IDS_PROGRAM_MISSING, TEXT_2024, 256, true},
    {IDS_START_FAILED, TEXT_2025, 256, true},
    {IDS_NO_TEMP_FOLDER, TEXT_2026, 256, true},
    {IDS_NO_OWN_FOLDER, TEXT_2027, 256, true},
    {IDS_FOLDER_UNNAMEABLE, TEXT_2028, 256, true},
    {IDS_ENCRYPTED_NOTE, TEXT_2029, 256, false},
    {IDS_USAGE, TEXT_2030, 1024, true},
    {IDS_SWITCH_REFUSED, TEXT_2031, 256, true},
    {IDS_ANSWER_MISSING, TEXT_2032, 256, true},
};

} // namespace

std::span<const StubText> StubTexts() { return Texts; }

const StubText* FindStubText(unsigned Id) {
  const auto found = std::find_if(std::begin(Texts), std::end(Texts),
                                  [&](const StubText& t) { return t.Id == Id; });
  return found == std::end(Texts) ? nullptr : found;
}

} // namespace vexa::tool
