# The work of vbs_text.vbs: text appended a character at a time, each read
# back, then the whole scanned for a word.
def main():
    s = ""
    n = 0
    c = 0
    for i in range(1, 300001):
        s += chr(97 + i % 26)
        if s[i - 1] == "z":
            n += 1
    p = 0
    while True:
        p = s.find("xyz", p)
        if p < 0:
            break
        c += 1
        p += 1
    return f"{len(s)} {n} {c}"


print(main())
