// Interruption on POSIX: the file seam's signal handlers do the clean-up.
#include "imgconv/cli/interrupt.h"

namespace imgconv {

void end_cleanly_when_interrupted() {}

}  // namespace imgconv
