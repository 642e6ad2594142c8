// Everything the library offers, in one include. Each header on its own says
// what it is for; the README lists them.
#pragma once

#include "tplforge/archive.h"
#include "tplforge/bmp.h"
#include "tplforge/bytes.h"
#include "tplforge/compression.h"
#include "tplforge/containers.h"
#include "tplforge/expected.h"
#include "tplforge/file_io.h"
#include "tplforge/file_kind.h"
#include "tplforge/format.h"
#include "tplforge/image.h"
#include "tplforge/md5.h"
#include "tplforge/png.h"
#include "tplforge/sha256.h"
#include "tplforge/targa.h"
#include "tplforge/texture.h"
#include "tplforge/texture_data.h"
#include "tplforge/texture_file.h"
#include "tplforge/tpl.h"
#include "tplforge/tpl_edit.h"
#include "tplforge/version.h"
