// Hand-made OBJ texts for the model loader tests and the fuzz seed corpus.
#include "support/assets_obj_builder.h"

std::string obj_bad_face_prelude(const std::string &mtl_path) {
    return "v 0 0 0\n"
           "v 1 0 0\n"
           "v 1 1 0\n"
           "v 0 1 0\n"
           "mtllib " + mtl_path + "\n"
           "vt 0 0\n"
           "vt 1 1\n";
}

std::vector<BadFace> obj_bad_faces(int line_number) {
    std::string range = "Skipping face on line " + std::to_string(line_number) +
                        ": index outside the records read so far\n";
    std::string corners = "Skipping face on line " + std::to_string(line_number) +
                          ": fewer than 3 corners\n";
    return {
        {"vertex_index_0", "f 0 1 2", range},
        {"vertex_index_negative_past_first", "f -5 1 2", range},
        {"vertex_index_past_count", "f 1 2 5", range},
        {"vertex_index_huge", "f 1 2 99999999999999999999", range},
        {"vertex_index_huge_negative", "f 1 2 -99999999999999999999", range},
        {"vertex_index_65537", "f 65537 1 2", range},
        {"vertex_index_empty", "f /1 1/1 2/2", range},
        {"vertex_index_bad_in_a_polygon", "f 1/1 2/2 3/1 4/2 5/1", range},
        {"no_corners", "f", corners},
        {"one_corner", "f 1", corners},
        {"two_corners", "f 1/1 2/2", corners},
        {"two_tab_separated_corners", "f 1\t2\t", corners},
    };
}

std::vector<BadFace> obj_faces_without_texcoords(int line_number) {
    std::string kept = "Face on line " + std::to_string(line_number) +
                       ": texture coordinate index outside the records read so far; loaded without texture "
                       "coordinates\n";
    return {
        {"texcoord_index_past_count", "f 1/1 2/2 3/3", kept},
        {"texcoord_index_negative_past_first", "f 1/1 2/-3 3/2", kept},
        {"texcoord_index_bad_in_a_quad", "f 1/1 2/2 3/1 4/9", kept},
    };
}

std::string obj_grid_model(int columns, int rows, const std::string &mtl_path) {
    std::string text = "# grid of " + std::to_string(columns) + " x " + std::to_string(rows) + " quads\n";
    text += "mtllib " + mtl_path + "\n";
    for (int y = 0; y <= rows; y++) {
        for (int x = 0; x <= columns; x++) {
            text += "v " + std::to_string(x) + ".25 " + std::to_string(y) + ".5 -1.125\n";
            text += "vt 0." + std::to_string(100 + x % 900).substr(1) + " 0." +
                    std::to_string(100 + y % 900).substr(1) + "\n";
        }
    }
    int stride = columns + 1;
    for (int y = 0; y < rows; y++) {
        for (int x = 0; x < columns; x++) {
            int a = y * stride + x + 1, b = a + 1, c = a + stride, d = c + 1;
            auto corner = [](int i) { return std::to_string(i) + "/" + std::to_string(i); };
            text += "f " + corner(a) + " " + corner(b) + " " + corner(d) + "\n";
            text += "f " + corner(a) + " " + corner(d) + " " + corner(c) + "\n";
        }
    }
    return text;
}

std::vector<NamedText> obj_seed_texts() {
    std::string vertices = "v 0 0 0\nv 1.5 -2.25 3\nv .5 7 -0.125\nv 4 4 4\n";
    std::vector<NamedText> seeds = {
        {"triangle", vertices + "f 1 2 3\n"},
        {"quad_and_forms", vertices + "f 1 2 3 4\nf 1//4 2//4 3//4\nf 4/1/1 3/1/1 2/1/1\nf -1 -2 -3 -4\n"},
        {"crlf_and_comments", "# made by hand\r\nv 1 2 3\r\nv 2 3 4\r\nv 3 4 5\r\n#f 9 9 9\r\nf 1 2 3\r\n"},
        {"long_line", "#" + std::string(79, 'x') + "v 7 8\n" + std::string(80, ' ') + "\nv 1 1 1\n"},
        {"tabs", "v\t1\t2\t3\n"},
        {"texcoords_without_material", vertices + "vt 0.5 0.5\nf 1/1 2/1 3/1\n"},
        {"no_final_line_feed", vertices + "f 1 2 3"},
        {"mtllib_without_name", "mtllib\n"},
        {"with_material", vertices + "vt 9 9\nmtllib /tmp/engine_obj_fuzz/m.mtl\nvt 0.5 0.5\nvt 2 -1\nf 1/1 2/2 3/1\nf 1/3 2 3\n"
                          "mtllib /tmp/engine_obj_fuzz/m.mtl\n"},
        {"missing_material", "mtllib none.mtl\n"},
        {"numbers", "v -0 - -.5\nv 99999999 0.999999999 1e3\nv abc 1.5abc .\n"},
    };
    std::string prelude = vertices + "vt 0 0\n";
    for (const BadFace &face : obj_bad_faces(6)) seeds.push_back({"bad_" + face.name, prelude + face.line + "\n"});
    for (const BadFace &face : obj_faces_without_texcoords(6))
        seeds.push_back({"kept_" + face.name, prelude + face.line + "\n"});
    return seeds;
}
