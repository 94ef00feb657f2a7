/* mexapiwords.h: the two words a plug-in reports through
 * mexfilerequiredapiversion, defined once. The bundled host's loader accepts
 * exactly these; the build (cmake/MexPlugin.cmake) reads them from this file
 * and hands each plug-in's version stub the pair it was built for. */
#ifndef MEXHOST_MEXAPIWORDS_H
#define MEXHOST_MEXAPIWORDS_H

#define MEXAPI_RELEASE_WORD 0x0002016B
#define MEXAPI_API32_WORD 0x07000000 /* 32-bit sizes, binds the _700 family */
#define MEXAPI_API64_WORD 0x07300000 /* 64-bit sizes, binds the _730 family */

#endif
