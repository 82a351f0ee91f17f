// The Setup program: registers the product and its wizard pages and runs the
// setup entry with the wizard's front end (which serves silent runs and runs
// without a display on the console). The packages it installs are attached
// to this executable afterwards (setup-pack attach).
#include "setup/core/entry.h"
#include "setup/product/product_info_orvi.h"
#include "setup/product/ui/product_pages.h"
#include "setup/ui/wizard_front_end.h"

int main(int argc, char** argv) {
  setup::RegisterProductORVI();
  setup::RegisterProductPagesORVI();
  setup::TWizardFrontEnd frontEnd(argc, argv);
  return setup::RunSetup(frontEnd);
}
