// Whether the texts of a wizard window fit their controls: every visible
// label, check box, radio button and button of the window and of its active
// page, whatever the page, and the page's title and description in the
// header.
#pragma once

#include <string>
#include <vector>

namespace setup {
class TWizardForm;
}

// One line for each text that does not fit: the control, its text, the size
// it needs and the size it has. Empty when all fit.
std::vector<std::string> CutOffTexts(const setup::TWizardForm& form);
