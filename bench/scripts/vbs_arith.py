# The work of vbs_arith.vbs: whole-number and floating arithmetic on every
# turn, inside a function as the VBScript is.
def main():
    s = 0
    f = 0.0
    for i in range(1, 10000001):
        s = (s + i * 3) % 1000003
        f = f * 0.999 + i / 8
    return f"{s} {int(f)}"


print(main())
