# Doxygen's input filter for the engine's headers (make docs). The headers
# are commented in plain // lines: a block before a declaration says what it
# does (one block may speak for the few declarations right under it), a
# comment after a declaration or member on its line says what that one is,
# and the block that opens a file says what the file is for. Doxygen reads
# only its own comment forms, so this hands it the same text in them, one
# line for one line (warnings keep the headers' line numbers):
#   the opening block            -> /// \file <folder>/<name>.h ...
#   a comment line               -> /// ...
#   declaration;  // text        -> declaration;  ///< text
#   the 2nd, 3rd ... declaration under one block
#                                -> /** \copydoc <first> */ declaration
# Lines already in a Doxygen form (///, //!, /** */) pass unchanged.
#   awk -f tools/doxygen-filter.awk src/music/voice.h
BEGIN {
    opening = 1   # 1 before anything, 2 inside the opening block, 0 after
    depth = 0     # braces open at the start of the line
    pending = 0   # inside a declaration that has not ended yet
    block = 0     # a comment block stands right above
    first = ""    # the declaration the block above documents, for its followers
}

# The file as the reference names it: its folder and name under src/.
function file_name(path,    n, part) {
    n = split(path, part, "/")
    return n >= 2 && part[n - 1] != "src" ? part[n - 1] "/" part[n] : part[n]
}

# The name a declaration declares: the function's, the function pointer
# type's, or the variable's or constant's.
function declared_name(code,    head) {
    if (match(code, /\(\*[ \t]*[A-Za-z_][A-Za-z_0-9]*[ \t]*\)/)) {
        head = substr(code, RSTART + 2, RLENGTH - 3)
        gsub(/[ \t]/, "", head)
        return head
    }
    head = code
    if (index(head, "(") > 0) head = substr(head, 1, index(head, "(") - 1)
    else sub(/[=\[;:{].*/, "", head)
    if (match(head, /[A-Za-z_][A-Za-z_0-9]*[ \t]*$/)) {
        head = substr(head, RSTART, RLENGTH)
        gsub(/[ \t]/, "", head)
        return head
    }
    return ""
}

# Brace depth after `code` (comments already removed; strings and character
# constants in headers hold no braces).
function count_braces(code,    opened, closed) {
    opened = gsub(/\{/, "{", code)
    closed = gsub(/\}/, "}", code)
    return depth + opened - closed
}

{
    line = $0
    if (line ~ /^[ \t]*\/\/[\/!]/ || line ~ /\/\*\*/) {
        opening = 0
        if (depth == 0 && !pending) block = 1
        first = ""
        print line
        next
    }
    if (line ~ /^[ \t]*\/\//) {
        if (opening == 1) {
            sub(/\/\//, "/// \\file " file_name(FILENAME), line)
            opening = 2
        } else {
            sub(/\/\//, "///", line)
        }
        # " .." ending a line reads to Doxygen as the end of a list.
        sub(/ \.\.$/, " \\.\\.", line)
        # The rows of a table of files or names ("   name   what it is")
        # become list items, one line each.
        if (line ~ /^[ \t]*\/\/\/   [^ ]+  +[^ ]/) sub(/\/\/\/   /, "/// - ", line)
        if (depth == 0 && !pending) block = 1
        first = ""
        print line
        next
    }
    if (line ~ /^[ \t]*$/) {
        if (opening == 2) opening = 0
        block = 0
        first = ""
        print line
        next
    }
    opening = 0
    if (line ~ /^[ \t]*#/) {
        print line
        next
    }

    code = line
    sub(/[ \t]*\/\/.*/, "", code)
    if (depth == 0 && !pending) {
        # A declaration at file scope starts here. A record or enumeration
        # is documented by its own block and ends a run under one block.
        if (code ~ /^[ \t]*(typedef[ \t]+)?(struct|enum|union|class)([ \t]|$)/) {
            first = ""
        } else if (block) {
            first = declared_name(code)
        } else if (first != "" && line !~ /[;,][ \t]*\/\//) {
            line = "/** \\copydoc " first " */ " line
        }
        block = 0
    }
    # A comment after a declaration, member or enumerator on its line.
    if (match(line, /[;,][ \t]*\/\/[^\/!]/))
        line = substr(line, 1, RSTART + RLENGTH - 2) "/<" substr(line, RSTART + RLENGTH - 1)

    depth = count_braces(code)
    if (depth < 0) depth = 0
    pending = depth == 0 && code !~ /[;}][ \t]*$/
    print line
}
