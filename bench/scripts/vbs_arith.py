# The work of vbs_loop.vbs: arithmetic and number-to-text on every turn,
# inside a function as the VBScript is.
def main():
    s = 0
    n = 0
    for i in range(1, 10000001):
        s = (s + i * 3) % 1000003
        t = str(i)
        n += len(t)
    return f"{s} {n}"


print(main())
