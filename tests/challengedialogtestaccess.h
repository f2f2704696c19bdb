#ifndef CHALLENGEDIALOGTESTACCESS_H
#define CHALLENGEDIALOGTESTACCESS_H

#include "challengedialog.h"

// What no widget of a challenge shows: whether it has checked, the store it
// writes through, and the asking buttons, which it lets go of at the check
// while they still wait for their deferred deletion.
class ChallengeDialogTestAccess
{
public:
    static bool answered(const ChallengeDialog *dialog) { return dialog->answered; }
    static NivletCore *core(const ChallengeDialog *dialog) { return dialog->core; }
    static QPushButton *checkButton(const ChallengeDialog *dialog) { return dialog->checkButton; }
    static QPushButton *laterButton(const ChallengeDialog *dialog) { return dialog->laterButton; }
};

#endif
