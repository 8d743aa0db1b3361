def f(a, scale=None, shift=None):
    if scale is not None:
        a = a * scale
    if shift is not None:
        a = a + shift
    return a


def main():
    s = 0
    for i in range(1, 1000001):
        a = i & 7
        s = s + f(a) + f(a, scale=3) + f(a, scale=3, shift=1)
    print(s)


main()
