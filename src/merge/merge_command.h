#pragma once

#include <functional>
#include <string>

#include "merge/sheet.h"
#include "state/form_context.h"

namespace a5merge {

inline constexpr const char* kInputsNotCorrect = "Sorry input *.PS files not correct";
inline constexpr const char* kAllLooksOk = "All looks OK!  ";
inline constexpr const char* kOkTitle = "OK!";

// The output MERGE + SAVE proposes for `topFile`: its folder, its bare name,
// then `ending` ("_Combi" and ".PS"); sets workDir to that folder. A TOP
// path of 10 characters or fewer ends the program.
std::string ProposedName(const std::string& topFile, FormContext& form,
                         const char* ending = kCombiEnding);

// Writes the sheet of the two accepted files as PDF to `output` (with
// `ifExists`) and tells the outcome as MERGE + SAVE tells it; true once it
// is written.
using PdfWriter =
    std::function<bool(FormContext& form, const std::string& output, IfExists ifExists)>;

// MERGE + SAVE: refuses until both zones hold an accepted file, asks where to
// save (proposing ProposedName), writes the merged file, confirms and shows
// both zones empty again; their files stay, so it can run again. Cancel ends
// it silently; a failed write is reported and leaves the target untouched.
// A name that did not exist when the dialog closed is written only while it
// is still free; one the dialog may have changed is refused. With
// `writePdf`, the dialog offers PDF as a second type, and a name ending in
// .pdf (in any case) gets the sheet as PDF through it.
void cmdMerge_Click(FormContext& form, const PdfWriter& writePdf = {});

}  // namespace a5merge
