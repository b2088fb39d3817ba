// Where a file named inside another file is found: a model's "mtllib" and a
// material's "map_Kd". The name is taken as written, relative to the working
// directory (as every model that loads from there always has); only when
// nothing is found there is it looked for beside the file that names it,
// so a model loads from any folder.
#ifndef ASSETS_ASSET_PATH_H
#define ASSETS_ASSET_PATH_H

// The path to open for `named`, named inside `naming_file`: null when
// `named` itself is to be opened (something exists there as written, it is
// absolute, the naming file has no folder part, nothing exists beside the
// naming file either, or memory runs out); otherwise a new string from
// engine_malloc, the naming file's folder followed by `named`. Nothing is
// opened, so nothing can block here.
char *asset_path_beside(const char *named, const char *naming_file);

#endif
