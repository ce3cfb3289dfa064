// Moravel's start on Linux: GTK first, then the framework's start-up runs the
// application object.
#include <gtk/gtk.h>

#include "setup/framework.h"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  return setup::AfxWinMain();
}
