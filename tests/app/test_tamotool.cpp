// The application object's life: main owns it, so its destructor is what
// closes the panel, releases the slots and hands the library's exit handler
// back; several objects in one process (as the tests make) stay apart.
#include <QSettings>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "guitest.h"

namespace {

std::vector<void *> *freedPointers = nullptr;

void recordingFree(void *p) {
    if (freedPointers) freedPointers->push_back(p);
    std::free(p);
}

[[noreturn]] void hostExit(int status) {
    std::exit(status);
}

}  // namespace

TEST(ApplicationObject, ItsEndReleasesTheSlotsAndRestoresTheExitHandler) {
    QSettings("Tamotool", "Orvstore Tool").clear();
    void (*const before)(int) = Tamo_exitptr;
    Tamo_exitptr = hostExit;
    std::vector<void *> freed;
    void *pixels[2] = {};
    {
        Tamotool tool;
        gTamotool = &tool;
        EXPECT_NE(Tamo_exitptr, hostExit);  // the workbench's own handler
        tool.images[3] = guitest::makeImage(4, 4);
        tool.images[8] = guitest::makeImage(2, 2);
        pixels[0] = tool.images[3]->orvptr;
        pixels[1] = tool.images[8]->orvptr;

        {
            // A second object lives and goes without touching the first.
            Tamotool other;
            EXPECT_EQ(gTamotool, &tool);
        }
        EXPECT_EQ(gTamotool, &tool);
        EXPECT_NE(Tamo_exitptr, hostExit);

        freedPointers = &freed;
        Tamo_freeptr = recordingFree;
    }
    Tamo_freeptr = std::free;
    freedPointers = nullptr;

    EXPECT_EQ(gTamotool, nullptr);
    EXPECT_EQ(Tamo_exitptr, hostExit);
    for (void *p : pixels)
        EXPECT_NE(std::find(freed.begin(), freed.end(), p), freed.end()) << "slot not released";
    Tamo_exitptr = before;
}
