// mexgateway.h: how a plug-in marks the functions the host may call.
//
// Plug-ins are built with hidden visibility and a linker version script; a
// function is exported only when it has C linkage and default visibility,
// which MEX_EXPORT gives. Windows plug-ins export through a .def file.
#ifndef TOOLBOX_MEXGATEWAY_H
#define TOOLBOX_MEXGATEWAY_H

#if defined(_WIN32)
#define MEX_EXPORT extern "C"
#else
#define MEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#endif
