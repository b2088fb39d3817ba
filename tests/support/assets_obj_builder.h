// Hand-made OBJ and MTL texts for the model loader tests: the malformed
// faces each with the message its line must produce, and a generated grid
// model. A fuzz seed corpus can be written from obj_seed_texts().
#ifndef SUPPORT_ASSETS_OBJ_BUILDER_H
#define SUPPORT_ASSETS_OBJ_BUILDER_H

#include <string>
#include <vector>

// One malformed "f" line placed after four good vertices (lines 1-4) and
// two texture coordinates, and the message obj_load must print for it.
struct BadFace {
    std::string name;
    std::string line;     // the "f" line, without line feed
    std::string message;  // expected standard output line, with line feed
};

// Vertices and texture coordinates the bad faces are checked against: four
// "v" lines, then "mtllib <mtl_path>", then two "vt" lines (lines 1-7).
std::string obj_bad_face_prelude(const std::string &mtl_path);
constexpr int OBJ_BAD_FACE_FIRST_LINE = 8;

// Every kind of face the loader must skip: vertex index 0, negative past
// the first vertex, one past the vertices read so far, far too large either
// way, a bad one among five corners, fewer than three corners (0, 1, 2).
// `line_number` is where the face line sits.
std::vector<BadFace> obj_bad_faces(int line_number);

// Faces the loader keeps without texture coordinates: a texture index past
// those read so far either way, and one bad among four corners.
std::vector<BadFace> obj_faces_without_texcoords(int line_number);

// A flat grid of `columns` x `rows` quads, two triangles each, with
// texture coordinates, using the material file `mtl_path`.
std::string obj_grid_model(int columns, int rows, const std::string &mtl_path);

struct NamedText {
    std::string name;
    std::string text;
};

// Small OBJ texts, valid and not, that reach every branch of the loader: a
// fuzz seed corpus. The one with a material names
// "/tmp/engine_obj_fuzz/m.mtl", which the fuzz target writes.
std::vector<NamedText> obj_seed_texts();

#endif
