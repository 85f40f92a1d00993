// varnel-gui: the desktop front end of the batch converter; `varnel-gui FILE` views a transaction.
#include "app/varnel_app.h"

int main(int argc, char** argv) {
  varnel::app::CvarnelApp app(argc, argv);
  return app.run();
}
