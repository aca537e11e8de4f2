#include <cstdio>

// Stands in for the program until its window exists.
int main() {
  std::puts(
      "Kestrova 0.1 - a screen recorder whose camera follows your mouse pointer.\n"
      "\n"
      "This build holds the recording engine only. The window, the hot keys (Ctrl+Alt+R to "
      "record,\n"
      "Ctrl+Alt+P to pause), the countdown and the floating toolbar come next; then this program\n"
      "will open its window and record a 1280x720 or 1920x1080 view that follows the pointer into "
      "an\n"
      "MP4 file in your Videos folder.");
  return 0;
}
