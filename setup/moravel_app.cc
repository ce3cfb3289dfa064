// The one application object of the program.
#include "setup/setup_app.h"

setup::CSetupApp theApp;
