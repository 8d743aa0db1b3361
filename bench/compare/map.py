def main():
    m = {}
    for i in range(1, 300001):
        m[i * 7] = i & 1023
    s = 0
    for i in range(1, 300001):
        s = s + m[i * 7]
    print(len(m), s)


main()
