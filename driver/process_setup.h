// What both programs set up before anything else, on POSIX systems.
#ifndef TAVRIMOX_PROCESS_SETUP_H
#define TAVRIMOX_PROCESS_SETUP_H

// An exceeded file-size limit or a pipe without reader then fails the write
// (EFBIG, EPIPE), which is reported and cleaned up, instead of ending the
// process. With 0, 1 or 2 closed, a file the program opens could take the
// number, and a message meant for the console would land in it: each is
// opened on /dev/null. False when that fails.
bool prepare_process();

#endif
