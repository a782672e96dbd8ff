# Turns a program's --help text into a manual page. The help texts are laid out as manual pages
# already: headings in capitals at the margin (NAME, SYNOPSIS, DESCRIPTION, OPTIONS, ...), text
# indented by four, list entries as a tag and its text two or more blanks apart (or the text on
# deeper-indented lines below the tag), continuation lines indented deeper than their entry.
# usage: awk -v title=TORVA-READ -v source="TORVA 1.0" -f help2roff.awk help.txt > page.1

function indent_of(s) {
    match(s, /^ */)
    return RLENGTH
}

# Roff escapes: backslash first, then minus signs (so that options copy and paste as typed),
# then a leading dot or apostrophe, which roff would read as a request.
function esc(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.']/)
        s = "\\&" s
    return s
}

function flush_verbatim() {
    if (verbatim) {
        print ".EE"
        verbatim = 0
    }
}

# An entry: a tag and its text. Continuation lines are appended by the main rule.
function start_entry(tag, text) {
    flush_verbatim()
    print ".TP"
    print "\\fB" esc(tag) "\\fR"
    if (text != "")
        print esc(text)
    entry_indent = cur
}

BEGIN {
    print ".TH " esc(title) " 1 \"\" \"" esc(source) "\" \"User Commands\""
    # No hyphenation: option names, file names and device paths must read as typed. The
    # example macros (.EE) turn it back on as the HY register says, so that says none too.
    print ".nh"
    print ".nr HY 0"
    section = ""
    entry_indent = -1
    paragraph = 0
    verbatim = 0
}

{
    lines[NR] = $0
}

END {
    for (n = 1; n <= NR; n++) {
        line = lines[n]
        sub(/[ \t]+$/, "", line)
        if (line == "") {
            blank_in_verbatim = verbatim
            entry_indent = -1
            paragraph = 0
            continue
        }
        cur = indent_of(line)
        body = substr(line, cur + 1)
        if (cur == 0 && body ~ /^[A-Z][A-Z ]*[A-Z]$/) {
            flush_verbatim()
            section = body
            print ".SH \"" body "\""
            entry_indent = -1
            paragraph = 0
            continue
        }
        # Synopsis and examples keep their line breaks and indentation.
        if (section == "SYNOPSIS" || section == "EXAMPLES") {
            if (!verbatim) {
                print ".EX"
                verbatim = 1
            } else if (blank_in_verbatim) {
                print ""
            }
            blank_in_verbatim = 0
            print esc(substr(line, 5))
            continue
        }
        if (section == "NAME") {
            # "name - what it does": the dash that separates them must be roff's \-.
            text = esc(body)
            print text
            continue
        }
        # A continuation of the current entry.
        if (entry_indent >= 0 && cur > entry_indent) {
            print esc(body)
            continue
        }
        next_line = (n < NR) ? lines[n + 1] : ""
        next_indent = (next_line ~ /[^ ]/) ? indent_of(next_line) : -1
        if (match(body, /  +/) && RSTART > 1) {
            start_entry(substr(body, 1, RSTART - 1), substr(body, RSTART + RLENGTH))
            continue
        }
        if (next_indent > cur + 4) {
            start_entry(body, "")
            continue
        }
        # Running text: a new paragraph after a blank line or after a list.
        if (!paragraph || entry_indent >= 0) {
            print ".PP"
            paragraph = 1
            entry_indent = -1
        }
        print esc(body)
    }
    flush_verbatim()
}
