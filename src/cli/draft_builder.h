#pragma once

#include "changes/change_draft.h"

#include <QString>

namespace rtu {
class Selection;
}

namespace rtu::cli {

struct Options;
struct Secrets;

// The changes the options ask for, as the settings panels would put them in
// a draft. Without a selection the date and time are left out: they take
// the selected servers' zone and clock.
void fillDraft(const Options &options, const Secrets &secrets, ChangeDraft &draft,
               const Selection *selection = nullptr);

// What the window's rules refuse in the options and passwords, as a message
// naming the option; empty when they hold nothing to refuse. Before the
// passwords are read, withPasswords is false.
QString checkValues(const Options &options, const Secrets &secrets, bool withPasswords = true);

// A refusal of the draft in the command's words.
QString problemText(const ChangeDraft::Problem &problem);

} // namespace rtu::cli
