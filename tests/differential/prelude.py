"""The fixed start of every generated program: the report helper and the globals.

`report` runs one case under `try` and prints its value, or its error's id,
where and near (a stack overflow by its id only: how deep it got is no part of
the answer). Its own words are copies taken at start, so a case that rebinds
`either`, `if`, `=` or `print` does not change how it reports.
"""

PRELUDE = r'''Zot [Title: "A generated program"]
tr: copy []
cnt: 0
bump: func [] [cnt: cnt + 1]
i: 3 j: -2 k: 10 big: 2147483647
v1: 0 v2: 1 v3: 2
w1: 0 w2: 0 w3: 0
scale: true shift: none on: true off: none
o: make object! [x: 5]
bb: [1 2 3]
keep-either: :either keep-if: :if keep-unless: :unless
keep-plus: get first [+] keep-minus: get first [-] keep-times: get first [*]
keep-lt: get first [<] keep-gt: get first [>] keep-eq: get first [=]
keep-remainder: :remainder keep-add: :add keep-loop: :loop keep-repeat: :repeat
restore: func [] [
    either: :keep-either if: :keep-if unless: :keep-unless
    set first [+] :keep-plus set first [-] :keep-minus set first [*] :keep-times
    set first [<] :keep-lt set first [>] :keep-gt set first [=] :keep-eq
    remainder: :keep-remainder add: :keep-add loop: :keep-loop repeat: :keep-repeat
]
r-if: :if r-either: :either r-eq: :equal? r-print: :print r-mold: :mold r-value?: :value?
report: func [id code [block!] /local e] [
    set/any 'e try code
    r-if not empty? tr [r-print [id "trail:" r-mold/flat/part tr 300] clear tr]
    r-either error? :e [
        r-either r-eq e/id 'stack-overflow [r-print [id "error:" e/id]] [
            r-print [id "error:" e/id "where:" r-mold e/where "near:" r-mold/flat/part e/near 200]
        ]
    ] [r-print [id "value:" r-mold/flat/part :e 300]]
]
system/tools/tracers/inspector/fixed-width: 60
tlog: copy []
tracer: func [event code offset value ref frame] [
    [enter exit open call return fetch push expr]
    append tlog reduce [event offset r-either integer? :value [value] [type? :value]]
]
'''
