// The Setup program: registers the product and runs the setup entry with the
// console front end (unattended runs). The packages it installs are attached
// to this executable afterwards (setup-pack attach).
#include "setup/core/entry.h"
#include "setup/product/product_info_orvi.h"

int main() {
  setup::RegisterProductORVI();
  setup::TSetupConsoleFrontEnd frontEnd;
  return setup::RunSetup(frontEnd);
}
