# The work of vbs_dict.vbs: sums kept by text keys.
def main():
    d = {}
    for i in range(1, 200001):
        k = "k" + str(i % 1000)
        if k in d:
            d[k] = d[k] + i
        else:
            d[k] = i
    t = 0
    for k in d:
        t = t + d[k]
    return f"{len(d)} {t}"


print(main())
