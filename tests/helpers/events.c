/* Records the calls of the private-image test DLL; RecordEvent is exported by ordinal
   only, so the image's import of it is an import by ordinal. */
#include <windows.h>

static int events[32];
static int count;

void RecordEvent(int event) {
    if (count < 32) events[count++] = event;
}

int EventCount(void) { return count; }
int EventAt(int index) { return index >= 0 && index < count ? events[index] : -1; }
void ClearEvents(void) { count = 0; }
