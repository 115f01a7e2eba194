#pragma once

#include <tsk/libtsk.h>

#include <string>

// The functions of The Sleuth Kit's library this program calls, loaded when a
// card is first read instead of linked. The library brings some forty others
// with it (curl, GnuTLS, Kerberos: for disk-image formats no card is stored
// in), and every command of korva-cli would load them all at its start, for
// nothing but a rescue: 22 of the 25 ms korva-cli took to start.
class TskLibrary
{
public:
    // Loads the library, once for the process; false, and why in plain words,
    // when it is not there.
    static bool Load(std::string& why);
    // The functions, once Load has said true.
    static const TskLibrary& Loaded();

#define KORVA_TSK_FUNCTIONS(X)                                                                     \
    X(error_get)                                                                                   \
    X(error_reset)                                                                                 \
    X(fs_close)                                                                                    \
    X(fs_dir_walk)                                                                                 \
    X(fs_file_attr_get)                                                                            \
    X(fs_open_img)                                                                                 \
    X(fs_read)                                                                                     \
    X(fs_type_toname)                                                                              \
    X(img_close)                                                                                   \
    X(img_open_external)                                                                           \
    X(img_open_sing)                                                                               \
    X(img_read)                                                                                    \
    X(vs_close)                                                                                    \
    X(vs_open)                                                                                     \
    X(vs_part_get)
#define KORVA_TSK_MEMBER(name) decltype(&::tsk_##name) name = nullptr;
    KORVA_TSK_FUNCTIONS(KORVA_TSK_MEMBER)
#undef KORVA_TSK_MEMBER
};
